#include "JpegError.h"

#include <string>

#include "Exceptions.h"

namespace {

void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrorManager *>(cinfo->err)->jump, 1);
}

void OutputMessage(j_common_ptr) {}

} // namespace

void InstallJpegErrorManager(j_common_ptr cinfo, JpegErrorManager &err) {
    cinfo->err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = OutputMessage;
}

void RaiseJpeg(int code) {
    throw EJPEG("JPEG error #" + std::to_string(code));
}
