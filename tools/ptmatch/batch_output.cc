// The batch's output file: opening, locking, reading back for --resume, and whole-line appends.
#include "batch_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

#include "commands.h"

namespace ptmatch_cli {
namespace {

std::string systemError() { return std::strerror(errno); }

std::string readAll(int fd, const std::string& name) {
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return text;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw CliError(name + ": cannot read: " + systemError());
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

// Reads the whole lines of an earlier batch and cuts off what follows the last newline: a line whose write
// was cut short by a kill. Every whole line must be one of a batch's, since appending to anything else
// would mix two kinds of file.
void readFinished(int fd, const std::string& name, FinishedScenes& finished) {
  const std::string text = readAll(fd, name);
  const std::size_t end = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
  std::size_t start = 0;
  for (int lineNo = 1; start < end; ++lineNo) {
    const std::size_t newline = text.find('\n', start);
    const std::string line = text.substr(start, newline - start);
    start = newline + 1;
    nlohmann::json entry;
    try {
      entry = nlohmann::json::parse(line);
    } catch (const nlohmann::json::exception&) {
    }
    if (!entry.is_object() || !entry.contains("id") || !entry["id"].is_string() || !entry.contains("ok"))
      throw CliError(name + ":" + std::to_string(lineNo) +
                     ": not a line of a batch's output; --resume finishes only a batch's own output");
    finished.ids.insert(entry["id"].get<std::string>());
    if (entry["ok"] != true) {
      finished.status = kError;
    } else if (entry.value("found", false) != true) {
      finished.status = std::max(finished.status, kNothingFound);
    }
  }
  finished.tornBytes = text.size() - end;
  if (finished.tornBytes > 0 && ::ftruncate(fd, static_cast<off_t>(end)) != 0)
    throw CliError(name + ": cannot cut off its unfinished last line: " + systemError());
}

}  // namespace

BatchOutput::BatchOutput(const std::string& path, bool resume, FinishedScenes& finished) : name_(path) {
  if (path.empty() || path == kStdinName) {
    if (resume) throw CliError("--resume: give the output file to finish with -o FILE");
    name_ = "standard output";
    return;
  }
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ < 0) throw CliError(path + ": cannot open for writing: " + systemError());
  owned_ = true;
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) throw CliError(path + ": another batch is writing this file");
  struct stat info;
  if (::fstat(fd_, &info) != 0) throw CliError(path + ": cannot read its size: " + systemError());
  if (!resume && info.st_size > 0)
    throw CliError(path + ": exists and holds lines; give --resume to finish it, or another file");
  if (resume) readFinished(fd_, path, finished);
}

BatchOutput::~BatchOutput() {
  if (owned_) ::close(fd_);
}

void BatchOutput::append(const std::string& line) {
  const std::string whole = line + '\n';
  std::size_t done = 0;
  while (done < whole.size()) {
    const ssize_t n = ::write(fd_, whole.data() + done, whole.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw CliError(name_ + ": write failed: " + systemError());
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace ptmatch_cli
