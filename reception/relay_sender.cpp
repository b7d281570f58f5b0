#include "reception/relay_sender.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qv {

namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether user `uid` belongs to group `gid`, as its primary group or a supplementary one.
bool IsMember(uid_t uid, gid_t gid) {
  const passwd* user = getpwuid(uid);
  if (user == nullptr) return false;
  if (user->pw_gid == gid) return true;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return false;
  }
  return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

}  // namespace

bool IsTrustedRelayPeer(const std::string& folder, uid_t owner) {
  // Only root can make a file root's: a viewer run by the administrator.
  if (owner == geteuid() || owner == 0) return true;
  struct stat root {};
  return stat(folder.c_str(), &root) == 0 && (root.st_mode & S_ISGID) != 0 && IsMember(owner, root.st_gid);
}

CRelaySender::CRelaySender(std::string socketPath) : path_(std::move(socketPath)) {}

CRelaySender::~CRelaySender() { Disconnect(); }

void CRelaySender::Disconnect() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  peer_ = {};
}

void CRelaySender::DropQueued() {
  dropped_ += queued_.size();
  queued_.clear();
  queuedBytes_ = 0;
}

bool CRelaySender::Connect() {
  struct stat info {};
  if (lstat(path_.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
    Disconnect();
    return false;
  }
  if (fd_ >= 0 && peer_ == std::pair{info.st_dev, info.st_ino}) return true;
  Disconnect();
  // The file is pinned (never through a link) and checked, then connected to through the pinned
  // descriptor, so that it cannot be swapped for a link between the check and the connect.
  const int pinned = open(path_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (pinned < 0) return false;
  const bool trusted = fstat(pinned, &info) == 0 && S_ISSOCK(info.st_mode) &&
                       IsTrustedRelayPeer(FolderOf(path_), info.st_uid);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d", pinned);
  fd_ = trusted ? socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0) : -1;
  const bool connected = fd_ >= 0 && connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(pinned);
  if (!connected) {
    Disconnect();
    return false;
  }
  const int bufferBytes = kSendBufferBytes;
  setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
  peer_ = {info.st_dev, info.st_ino};
  return true;
}

void CRelaySender::Relay(std::string_view recordLine) {
  if (recordLine.size() < 2) return;
  const std::string_view line = recordLine.substr(0, recordLine.size() - 2);
  if (queuedBytes_ + line.size() > kMaxBacklogBytes) {
    ++dropped_;
    return;
  }
  queued_.emplace_back(line);
  queuedBytes_ += line.size();
  // A full batch is sent at once, unless lines already wait for the viewer to read.
  if (queued_.size() >= kMaxBatch && !full_) Flush();
}

void CRelaySender::Flush() {
  full_ = false;
  if (queued_.empty()) return;
  if (!Connect()) {
    DropQueued();  // nobody receives
    return;
  }
  std::array<iovec, kMaxBatch> lines{};
  std::array<mmsghdr, kMaxBatch> datagrams{};
  while (!queued_.empty()) {
    const std::size_t count = std::min(queued_.size(), kMaxBatch);
    for (std::size_t i = 0; i < count; ++i) {
      lines[i] = {queued_[i].data(), queued_[i].size()};
      datagrams[i].msg_hdr = {};
      datagrams[i].msg_hdr.msg_iov = &lines[i];
      datagrams[i].msg_hdr.msg_iovlen = 1;
    }
    const int n = sendmmsg(fd_, datagrams.data(), static_cast<unsigned>(count), MSG_DONTWAIT);
    std::size_t done = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        full_ = true;  // the viewer's queue is full: the rest waits here
        return;
      }
      if (errno == ECONNREFUSED || errno == ENOTCONN || errno == ECONNRESET) {
        Disconnect();  // the viewer is gone; the next flush looks for a new one
        DropQueued();
        return;
      }
      if (errno != EINTR) {
        done = 1;  // this datagram is refused (too long, say): skip it
        ++dropped_;
      }
    }
    for (std::size_t i = 0; i < done; ++i) {
      queuedBytes_ -= queued_.front().size();
      queued_.pop_front();
    }
  }
}

}  // namespace qv
