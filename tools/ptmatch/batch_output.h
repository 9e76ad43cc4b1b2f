// The JSON Lines output of a batch: one line per scene, each appended by a single write, so that a batch
// killed at any moment leaves only whole lines behind but for, at worst, a torn last one, which --resume
// cuts off before it appends.
#pragma once

#include <set>
#include <string>

namespace ptmatch_cli {

// What the lines already in an output file say, for --resume.
struct FinishedScenes {
  std::set<std::string> ids;
  int status = 0;  // the exit status those lines alone would give (kFound, kNothingFound or kError)
  std::size_t tornBytes = 0;  // bytes of an unfinished last line that were cut off
};

class BatchOutput {
 public:
  // Standard output ("" or "-"), or a file. A file is locked against a second batch writing it. Without
  // resume an existing nonempty file is refused rather than overwritten: it is most likely the result of
  // an earlier batch. With resume the file's lines are read into `finished` and a torn last line is cut
  // off. Throws CliError naming the file.
  BatchOutput(const std::string& path, bool resume, FinishedScenes& finished);
  ~BatchOutput();
  BatchOutput(const BatchOutput&) = delete;
  BatchOutput& operator=(const BatchOutput&) = delete;

  // Appends `line` and a newline with one write, retried only for the part a signal interrupted. Throws
  // CliError when the file cannot take it (a full disk).
  void append(const std::string& line);

 private:
  std::string name_;
  int fd_ = 1;
  bool owned_ = false;
};

}  // namespace ptmatch_cli
