#include "reception/relay_receiver.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/paths/data_root.h"
#include "reception/relay.h"

namespace qv {
namespace {

bool SocketAddress(const std::string& path, sockaddr_un* address) {
  *address = {};
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether a socket is still receiving at `address`: a datagram socket can connect to it only
// while one is bound there.
bool SomeoneReceives(const sockaddr_un& address) {
  const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool live = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return live;
}

}  // namespace

std::string RelaySocketPath() { return DataPath(kRelaySocketName); }

CRelayReceiver::~CRelayReceiver() { Close(); }

bool CRelayReceiver::Bind(const std::string& path, std::string* error) {
  Close();
  sockaddr_un address{};
  if (!SocketAddress(path, &address)) {
    *error = path + " is too long for a socket name";
    return false;
  }
  struct stat existing {};
  if (lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      *error = path + " exists and is not a socket; remove it to receive the relay";
      return false;
    }
    if (SomeoneReceives(address)) {
      *error = path + " is held by another running viewer";
      return false;
    }
    unlink(path.c_str());  // left by a viewer that ended without closing
  }

  // The folder already keeps strangers out; the mode keeps out the group unless it is shared.
  // It is the socket's before bind makes the file (less the umask), so the file is never open
  // wider than that.
  const mode_t mode = IsSharedWithGroup(FolderOf(path)) ? 0660 : 0600;
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || fchmod(fd_, mode) != 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = path + " cannot be bound: " + std::strerror(errno);
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return false;
  }
  path_ = path;
  struct stat made {};
  if (lstat(path.c_str(), &made) == 0) made_ = {made.st_dev, made.st_ino};
  // The umask may have narrowed the mode; it is set again on the file bind made, pinned without
  // following a link, so a link put in its place meanwhile leads nowhere.
  const int pinned = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  struct stat now {};
  char pinnedPath[32];
  std::snprintf(pinnedPath, sizeof pinnedPath, "/proc/self/fd/%d", pinned);
  const bool moded = pinned >= 0 && fstat(pinned, &now) == 0 && S_ISSOCK(now.st_mode) &&
                     std::pair{now.st_dev, now.st_ino} == made_ && chmod(pinnedPath, mode) == 0;
  if (pinned >= 0) close(pinned);
  if (!moded) {
    *error = path + " cannot be given mode " + (mode == 0660 ? "0660" : "0600");
    Close();
    return false;
  }
  const int bufferBytes = kReceiveBufferBytes;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
  return true;
}

std::size_t CRelayReceiver::ReceiveBatch(std::vector<std::string>& out, std::size_t max) {
  if (fd_ < 0) return 0;
  const std::size_t slots = std::min(max, kMaxBatch);
  if (slots == 0) return 0;
  while (buffers_.size() < slots) buffers_.push_back(std::make_unique_for_overwrite<char[]>(kMaxDatagram));

  std::array<iovec, kMaxBatch> vectors{};
  std::array<mmsghdr, kMaxBatch> datagrams{};
  for (std::size_t i = 0; i < slots; ++i) {
    vectors[i] = {buffers_[i].get(), kMaxDatagram};
    datagrams[i].msg_hdr.msg_iov = &vectors[i];
    datagrams[i].msg_hdr.msg_iovlen = 1;
  }
  // A batch of nothing but oversized datagrams is read past, so that 0 still means "empty".
  std::size_t appended = 0;
  while (appended == 0) {
    const int received = recvmmsg(fd_, datagrams.data(), static_cast<unsigned>(slots), MSG_DONTWAIT, nullptr);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) break;
    for (int i = 0; i < received; ++i) {
      if ((datagrams[i].msg_hdr.msg_flags & MSG_TRUNC) != 0) continue;  // never a cut record
      out.emplace_back(buffers_[i].get(), datagrams[i].msg_len);
      ++appended;
    }
  }
  return appended;
}

void CRelayReceiver::Close() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  // Only the file this object made: another viewer may have replaced it since.
  struct stat now {};
  if (!path_.empty() && lstat(path_.c_str(), &now) == 0 && now.st_dev == made_.first && now.st_ino == made_.second) {
    unlink(path_.c_str());
  }
  path_.clear();
}

}  // namespace qv
