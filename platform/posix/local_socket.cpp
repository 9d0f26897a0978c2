#include "platform/local_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/locations.h"
#include "platform/sandbox.h"

namespace platform {
namespace {

bool Fail() {
  SetLastErrorFromErrno();
  return false;
}

// The socket address of a pipe name; false (206) when the path does not fit.
bool PipeAddress(const std::string& name, sockaddr_un& address, std::string& path) {
  path = PipeDirectory() + "/" + name;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (name.empty() || name.find('/') != std::string::npos ||
      path.size() >= sizeof address.sun_path) {
    SetLastError(name.empty() || name.find('/') != std::string::npos ? kErrorInvalidName
                                                                     : kErrorFilenameTooLong);
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

LocalMessageSocket::~LocalMessageSocket() { Close(); }

bool LocalMessageSocket::Connect(const std::string& name) {
  Close();
  sockaddr_un address{};
  std::string path;
  if (!PipeAddress(name, address, path)) return false;
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Fail();
  // Non-blocking so that a full queue reports itself instead of blocking the caller.
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(fd);
    SetLastError(error == EAGAIN                              ? kErrorPipeBusy
                 : (error == ENOENT || error == ECONNREFUSED) ? kErrorFileNotFound
                                                              : ErrorFromErrno(error));
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  return true;
}

bool LocalMessageSocket::Send(const void* data, size_t size) {
  for (;;) {
    const ssize_t sent = send(fd_, data, size, MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(size)) return true;
    if (sent < 0 && errno == EINTR) continue;
    if (sent >= 0) errno = EMSGSIZE;
    return Fail();
  }
}

bool LocalMessageSocket::Receive(std::vector<uint8_t>& message) {
  for (;;) {
    // Peek at the length first so that the whole message is read in one go.
    const ssize_t length = recv(fd_, nullptr, 0, MSG_PEEK | MSG_TRUNC);
    if (length < 0 && errno == EINTR) continue;
    if (length < 0) return Fail();
    message.resize(static_cast<size_t>(length));
    const ssize_t got = recv(fd_, message.data(), message.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail();
    if (got == 0 && length == 0) {
      // A zero-length read is either an empty message or the peer's end; both end the exchange.
      SetLastError(kErrorBrokenPipe);
      return false;
    }
    message.resize(static_cast<size_t>(got));
    return true;
  }
}

void LocalMessageSocket::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

LocalMessageListener::~LocalMessageListener() { Close(); }

bool LocalMessageListener::Listen(const std::string& name, int backlog) {
  Close();
  sockaddr_un address{};
  std::string path;
  if (!PipeAddress(name, address, path)) return false;
  EnsureDirectory(PipeDirectory(), 0700);
  unlink(path.c_str());
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail();
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, backlog) != 0) {
    const uint32_t code = SetLastErrorFromErrno();
    close(fd);
    SetLastError(code);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool LocalMessageListener::Accept(LocalMessageSocket& connection) {
  connection.Close();
  for (;;) {
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      connection.fd_ = fd;
      return true;
    }
    if (errno != EINTR) return Fail();
  }
}

void LocalMessageListener::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!path_.empty()) unlink(path_.c_str());
  path_.clear();
}

}  // namespace platform
