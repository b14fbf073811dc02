// An AM_MEDIA_TYPE that owns its format block (task memory) and its pUnk reference.
//
// Not thread-safe by itself; the pin that holds one guards it with its lock. What get() shows,
// format block included, stays valid until the value is assigned, cleared or destroyed.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "video/media_guids.h"

namespace kvx {

class MediaTypeValue {
 public:
  MediaTypeValue();
  ~MediaTypeValue();
  // A copy whose format block could not be allocated is empty; use Assign to see the failure.
  MediaTypeValue(const MediaTypeValue& other);
  MediaTypeValue& operator=(const MediaTypeValue& other);

  // Deep copy. E_OUTOFMEMORY leaves this value empty. A format size without a block copies as no
  // block at all.
  HRESULT Assign(const AM_MEDIA_TYPE& type);
  void Clear();

  const AM_MEDIA_TYPE& get() const { return type_; }
  // Fields to fill in place; the format block set here becomes this value's to free.
  AM_MEDIA_TYPE* mutable_type() { return &type_; }
  // Allocates a format block of this size (zeroed) and owns it.
  BYTE* AllocateFormat(ULONG size);

  // A deep copy into caller-owned fields, as IPin::ConnectionMediaType hands it out.
  HRESULT CopyTo(AM_MEDIA_TYPE* out) const;
  // A deep copy in task memory, as IEnumMediaTypes::Next hands it out; null on failure.
  AM_MEDIA_TYPE* NewTaskCopy() const;

 private:
  AM_MEDIA_TYPE type_;
};

// Deep copy of one AM_MEDIA_TYPE into caller-owned fields; E_OUTOFMEMORY leaves them empty.
HRESULT CopyMediaTypeFields(const AM_MEDIA_TYPE& from, AM_MEDIA_TYPE* to);
// Frees what CopyMediaTypeFields allocated and empties the fields.
void FreeMediaTypeFields(AM_MEDIA_TYPE* type);
// Frees a media type handed out in task memory (IEnumMediaTypes::Next).
void DeleteTaskMediaType(AM_MEDIA_TYPE* type);

// The fields the frame buffer reads; borrows the format block.
MediaTypeView ViewOf(const AM_MEDIA_TYPE& type);

}  // namespace kvx
