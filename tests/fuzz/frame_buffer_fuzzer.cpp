// Hostile media types and samples: whatever the upstream filter announces and delivers, the
// frame buffer reads only inside the format block and writes only inside its store.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "video/frame_buffer.h"

namespace {

struct Sample {
  const uint8_t* data;
  long length;
  long capacity;
  kvx::HResult GetPointer(unsigned char** out) {
    *out = const_cast<unsigned char*>(data);
    return kvx::kOk;
  }
  long GetSize() const { return capacity; }
  long GetActualDataLength() const { return length; }
};

// Keeps frames small enough that each input runs quickly.
void Shrink(std::vector<uint8_t>& block) {
  for (size_t offset : {size_t{52}, size_t{56}, size_t{76}, size_t{80}}) {
    if (offset + 4 <= block.size()) {
      int32_t v;
      std::memcpy(&v, &block[offset], 4);
      v %= 600;
      std::memcpy(&block[offset], &v, 4);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  // Packed, a major type where a subtype belongs, then the 4:2:0 planes the copy converts.
  static const kvx::Guid subtypes[] = {kvx::kSubtypeYuy2,    kvx::kSubtypeUyvy, kvx::kSubtypeRgb24,
                                       kvx::kMediaTypeVideo, kvx::kSubtypeNv12, kvx::kSubtypeI420,
                                       kvx::kSubtypeYv12,    kvx::kSubtypeNv12};
  static const kvx::Guid formats[] = {kvx::kFormatVideoInfo, kvx::kFormatVideoInfo2,
                                      kvx::kSubtypeYuy2};
  const uint8_t choice = data[0];
  const uint8_t blockLength = data[1];  // up to 255 bytes of format block
  data += 2;
  size -= 2;
  // The format block is an exact-size copy so any over-read hits the allocation's end.
  const size_t blockSize = blockLength < size ? blockLength : size;
  std::vector<uint8_t> block(data, data + blockSize);
  Shrink(block);
  kvx::MediaTypeView type{kvx::kMediaTypeVideo, subtypes[(choice & 3) | (blockLength & 1) << 2],
                          formats[(choice >> 2) % 3], static_cast<uint32_t>(block.size()),
                          block.empty() ? nullptr : block.data()};
  kvx::PipFrameBuffer buffer;
  if (kvx::Failed(buffer.SetFrameFormat(type)) || kvx::Failed(buffer.AllocateFrame())) {
    return 0;
  }
  buffer.StartStreaming();
  // The rest of the input is one sample with a declared length that may lie.
  std::vector<uint8_t> payload(data + blockSize, data + size);
  const long declared = (choice & 0x80) ? static_cast<long>(payload.size()) * 4 - 7
                                        : static_cast<long>(payload.size());
  Sample sample{payload.data(), (choice & 0x40) ? declared : static_cast<long>(payload.size()),
                static_cast<long>(payload.size())};
  buffer.StoreSample(&sample);
  // Then the same bytes with a type announced on the sample, read from their start: a driver
  // that changes its format while streaming, or one that lies about it.
  if ((choice & 0x20) != 0 && payload.size() >= 2) {
    const size_t announcedSize = payload[0] < payload.size() - 1 ? payload[0] : payload.size() - 1;
    std::vector<uint8_t> announcedBlock(payload.begin() + 1,
                                        payload.begin() + 1 + static_cast<long>(announcedSize));
    Shrink(announcedBlock);
    const kvx::MediaTypeView announced{
        (payload[1] & 0x10) != 0 ? kvx::kSubtypeYuy2 : kvx::kMediaTypeVideo,
        subtypes[(payload[1] & 3) | (payload[1] & 0x20) >> 3], formats[(payload[1] >> 2) % 3],
        static_cast<uint32_t>(announcedBlock.size()),
        announcedBlock.empty() ? nullptr : announcedBlock.data()};
    buffer.StoreSample(&sample, &announced);
    buffer.StoreSample(&sample);
  }
  kvx::PipFrameView view;
  if (buffer.GetFrameView(&view) == kvx::kOk) {
    const int bytes = view.format == kvx::kBufferRgb24 ? 3 : 2;
    volatile uint8_t last = view.pixels[static_cast<size_t>(view.width) * view.height * bytes - 1];
    (void)last;
  }
  return 0;
}
