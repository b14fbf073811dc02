// The C++ library's error paths, for the plug-in DLL alone (tests keep the library's own).
//
// The library's own versions build exception objects that carry copy-on-write strings, and its
// default terminate handler prints the demangled type of an uncaught exception: between them they
// pull in string instantiations, a demangler and a printf, a third of the DLL. The plug-in never
// means to throw: a size beyond the library's limits is reported as the out-of-memory it is
// (callers that read files catch std::bad_alloc), and a misuse of the library ends the process as
// an uncaught exception would, without the message no one would see inside the host.
#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <new>

namespace std {

void __throw_bad_alloc() {
  throw std::bad_alloc();
}

void __throw_bad_array_new_length() {
  throw std::bad_array_new_length();
}

void __throw_length_error(const char*) {
  throw std::bad_alloc();
}

void __throw_logic_error(const char*) {
  std::terminate();
}

void __throw_out_of_range_fmt(const char*, ...) {
  std::terminate();
}

void __throw_bad_function_call() {
  std::terminate();
}

}  // namespace std

namespace kvx {

// What the library's own guard throws for a static met again inside its initialiser.
[[noreturn]] void ThrowRecursiveInit() {
  throw __gnu_cxx::recursive_init_error();
}

}  // namespace kvx

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  std::abort();
}

}  // namespace __gnu_cxx
