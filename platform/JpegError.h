// libjpeg's fatal errors as a longjmp, and the exception they become once back in C++.
#pragma once

#include <csetjmp>
#include <cstdio> // jpeglib.h needs size_t and FILE declared first

#include <jpeglib.h>

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// Makes libjpeg longjmp to err.jump on a fatal error and keeps its warnings (corrupt or
// truncated data) quiet. The caller's setjmp must sit in a function without C++ objects of its
// own, so that the jump skips no destructor.
void InstallJpegErrorManager(j_common_ptr cinfo, JpegErrorManager &err);

// Raises EJPEG "JPEG error #code" for libjpeg's message number.
[[noreturn]] void RaiseJpeg(int code);
