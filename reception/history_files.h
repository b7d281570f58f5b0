#pragma once
// The two history files, qvhista.txt and qvhistb.txt, written in turn: one grows until it has
// passed the limit, then the other is emptied and written, so that the pair always holds between
// one and two limits' worth of the most recent record lines. The windowed program and the
// service each own one object over the same two files.
//
// Every Append hands what it is given, one line or the lines of a whole batch, to the kernel
// with one write before it returns, so it survives a crash of the program; nothing is buffered
// between appends. The service appends once per batch of received messages. The current file's
// descriptor is kept between appends (an open per message would cost more than the rest of the
// message's handling), but each Append first checks that the file it would write is still the
// current file and still linked (a path look-up when the descriptor does not hold it): a file
// deleted or switched away from by either program is never written through an old descriptor.
// A file renamed away (mv, logrotate) is still linked, so the owner calls CheckFileName once per
// batch of received messages; from then on lines go to a file of the configured name again.
// Appends are O_APPEND writes, so both programs can append in turn and lines of the two never
// overwrite each other. No lock is taken.
//
// "histpath" may name a folder that others can write (/tmp): a file is written only when it is
// a regular file of this user with one link, and created exclusively when absent, with mode 0640
// (0660 while the data root is shared with its group); a FIFO, a link or another user's file
// planted under a history name is refused at once and reported like any failure. A file error (folder missing, access denied, disk full) loses
// the line, but never leaves part of it: a short write is cut off again. The first failure and
// the first success after failures each leave one report for the owner (TakeReport), which
// makes it a local message. Not thread-safe: each program appends from its receiving thread.

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

class CHistoryFiles {
 public:
  // Reads "histpath" (section "settings"); when it is empty the files live in the data root.
  // The limit starts at 2048 bytes; then the current file is chosen.
  CHistoryFiles();
  ~CHistoryFiles();
  CHistoryFiles(const CHistoryFiles&) = delete;
  CHistoryFiles& operator=(const CHistoryFiles&) = delete;

  // Makes the more recently modified file current when both exist (fileB when the times are
  // equal); otherwise makes fileA current and deletes fileB, whose history is then lost.
  void ChooseCurrent();

  // Each file may grow past kilobytes x 512 bytes before the other is started, so that both
  // together hold about the configured kilobytes. 0, or a negative value, switches the history
  // off; very large values are capped at the largest limit.
  void SetLimitKB(int32_t kilobytes);
  // The default of the setting "historysize".
  static constexpr int32_t kDefaultLimitKB = 1000;

  // Appends `line` (which carries its own CR LF; or several whole lines, each with its CR LF)
  // to the current file. A current file that is missing (deleted by Clear, say) means choosing
  // anew; before each line, a file that has grown beyond the limit hands over to the other
  // file, which is emptied first. So a file passes the limit by at most one line, and lines
  // appended together switch files at the same line as lines appended one by one, with at most
  // one write per file. A short write (disk full) cuts off the line it ended in, so lines stay
  // whole.
  void Append(std::string_view line);
  // Appends like Append, but what happens to the line changes nothing in the reports: for the
  // reports' own lines, which would otherwise report on themselves.
  void AppendUntracked(std::string_view line);

  // The files to load, older first: with both present the one modified earlier is older (fileB
  // when the times are equal); a single file is `older` with `newer` empty; none gives two
  // empty paths.
  void GetLoadOrder(std::string& older, std::string& newer) const;

  // Lets go of the current file when its name no longer leads to it (renamed or replaced), so
  // that the next Append writes a file of the configured name. One path look-up.
  void CheckFileName();

  // The report of a change between writing and failing, once: "History: cannot write
  // <path>: <reason>" or "History: writing <path> again"; nothing when there was no change.
  std::optional<std::string> TakeReport();

  // Deletes both files; errors are ignored. The next Append starts fileA afresh.
  void Clear();

  const std::string& fileA() const { return fileA_; }
  const std::string& fileB() const { return fileB_; }
  bool currentIsA() const { return currentIsA_; }
  int32_t limit() const { return limit_; }

 private:
  const std::string& Current() const { return currentIsA_ ? fileA_ : fileB_; }
  const std::string& Other() const { return currentIsA_ ? fileB_ : fileA_; }
  std::optional<struct stat> CurrentStatus() const;
  int Writer(const std::string& path, const struct stat* info);
  void CloseWriter();
  // Appends `lines`; false when some were lost, refusal_ then says why.
  bool Write(std::string_view lines);

  std::string fileA_;
  std::string fileB_;
  bool currentIsA_ = true;
  int32_t limit_ = 2048;
  // The descriptor of the file last written, with the path and identity it was opened for.
  int writer_ = -1;
  std::string writerPath_;
  dev_t writerDevice_ = 0;
  ino_t writerInode_ = 0;
  bool failing_ = false;  // the last Append lost its line
  std::string refusal_;   // why the last write failed
  std::optional<std::string> report_;
};

}  // namespace qv
