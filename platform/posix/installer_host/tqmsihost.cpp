// tqmsihost: the installer host. It carries out the installer's operations
// for the installer's client library, which starts it as
//
//   tqmsihost --for PID
//
// (PID: the client's process) with its standard input and output on one
// stream socket, and takes nothing from anywhere else. Requests and answers
// are the frames of platform/installer_wire/wire.h, one answer for each
// request, in order. Package and product handles live here, for as long as
// the host runs.
//
// The host ends with 0 when its input ends between two requests; with 2,
// without acting, when it is started any other way or a request is
// malformed (cut off, too long, fields its kind does not use, a text with a
// NUL byte); with 3 when an answer cannot be written. It dies with its
// client: a client gone mid-operation leaves the operation to the journal
// recovery of the next installer call, as any killed installation.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/installer.h"
#include "platform/installer_wire/wire.h"
#include "platform/posix/installer/installer_internal.h"

namespace {

constexpr int kExitMalformed = 2;
constexpr int kExitCannotAnswer = 3;

// Reads exactly `size` bytes from fd 0: 1 when read, 0 at the end of input
// before any byte, -1 on failure or an end within the bytes.
int ReadExact(void* buf, size_t size) {
  char* p = static_cast<char*>(buf);
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::read(0, p + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return got == 0 ? 0 : -1;
    got += static_cast<size_t>(n);
  }
  return 1;
}

// Writes all of `frame` to fd 1. 0 or -1.
int WriteAll(const std::string& frame) {
  size_t sent = 0;
  while (sent < frame.size()) {
    ssize_t n = ::send(1, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    sent += static_cast<size_t>(n);
  }
  return 0;
}

// Carries out one request.
MsiWireAnswer Carry(const MsiWireRequest& req) {
  MsiWireAnswer ans;
  ans.kind = req.kind;
  switch (req.kind) {
    case MSI_WIRE_OPEN_PACKAGE: {
      MSIHANDLE h = 0;
      ans.result = MsiOpenPackageA(req.text1.c_str(), &h);
      if (ans.result == MSI_OK) ans.number = h;
      break;
    }
    case MSI_WIRE_OPEN_PRODUCT: {
      MSIHANDLE h = 0;
      ans.result = MsiOpenProductA(req.text1.c_str(), &h);
      if (ans.result == MSI_OK) ans.number = h;
      break;
    }
    case MSI_WIRE_GET_PROPERTY: {
      uint32_t size = 0;
      ans.result = MsiGetProductPropertyA(req.a, req.text1.c_str(), nullptr, &size);
      if (ans.result != MSI_OK) break;
      if (size > kMsiWireMaxAnswerText) {
        MsiLog("property " + req.text1 + " too long to answer");
        ans.result = MSI_ERROR_INSTALL_FAILURE;
        break;
      }
      std::string value(size + 1, '\0');
      uint32_t room = size + 1;
      ans.result = MsiGetProductPropertyA(req.a, req.text1.c_str(), value.data(), &room);
      value.resize(ans.result == MSI_OK ? room : 0);
      ans.text = std::move(value);
      break;
    }
    case MSI_WIRE_CLOSE_HANDLE: ans.result = MsiCloseHandle(req.a); break;
    case MSI_WIRE_INSTALL: ans.result = MsiInstallProductA(req.text1.c_str(), req.text2.c_str()); break;
    case MSI_WIRE_CONFIGURE:
      ans.result = MsiConfigureProductA(req.text1.c_str(), static_cast<int32_t>(req.a), static_cast<int32_t>(req.b));
      break;
    case MSI_WIRE_ENUM_PRODUCTS: {
      char code[39] = {};
      ans.result = MsiEnumProductsA(req.a, code);
      if (ans.result == MSI_OK) ans.text = code;
      break;
    }
    default: ans.result = MSI_ERROR_INVALID_PARAMETER; break;  // refused by the decoder already
  }
  return ans;
}

// The client's process id of "--for PID"; 0 when the arguments are not that.
pid_t ClientOf(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "--for") != 0) return 0;
  char* end = nullptr;
  errno = 0;
  long pid = std::strtol(argv[2], &end, 10);
  if (errno || end == argv[2] || *end || pid <= 1 || pid > 0x3FFFFFFF) return 0;
  return static_cast<pid_t>(pid);
}

}  // namespace

int main(int argc, char** argv) {
  pid_t client = ClientOf(argc, argv);
  struct stat in_st, out_st;
  if (!client || ::fstat(0, &in_st) != 0 || ::fstat(1, &out_st) != 0 || !S_ISSOCK(in_st.st_mode) ||
      !S_ISSOCK(out_st.st_mode))
    return kExitMalformed;
  // Ends with the client; a client already gone ends the host at once.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != client) return kExitMalformed;
  ::signal(SIGPIPE, SIG_IGN);
  ::fcntl(0, F_SETFD, FD_CLOEXEC);
  ::fcntl(1, F_SETFD, FD_CLOEXEC);
  MsiSetCallerProcess(static_cast<uint32_t>(client));
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);

  for (;;) {
    unsigned char field[kMsiWireLengthSize];
    int r = ReadExact(field, sizeof field);
    if (r == 0) return 0;
    uint32_t size = 0;
    if (r < 0 || MsiWireBodyLength(field, kMsiWireMaxRequestBody, &size) != 0) return kExitMalformed;
    std::string body(size, '\0');
    if (ReadExact(body.data(), size) != 1) return kExitMalformed;
    MsiWireRequest req;
    if (MsiWireDecodeRequest(body, &req) != 0) return kExitMalformed;
    std::string frame = MsiWireEncodeAnswer(Carry(req));
    if (frame.empty() || WriteAll(frame) != 0) return kExitCannotAnswer;
  }
}
