// A sink for tests of the walk: it keeps what it is told as lines of text and answers each
// question as the test says, and the walk run as the driver runs it.
#ifndef QZ_TESTS_SUPPORT_RECORDING_SINK_H_
#define QZ_TESTS_SUPPORT_RECORDING_SINK_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/search_driver.h"
#include "search/file_reads.h"
#include "search/file_search.h"
#include "search/search_sink.h"
#include "search/search_state.h"

namespace qz_test {

// Keeps every report as a line of text, with paths relative to the walk's root and '/' as the
// separator, and answers each question with the next of `decisions` (Continue once they run
// out), after `onAsk`, which may change the tree while the "user" decides.
class RecordingSink {
 public:
  RecordingSink(std::string root, bool asks) : root_(std::move(root)), asks_(asks) {}

  bool AsksAboutMatches() const { return asks_; }
  void FileOpened(const std::string& path) {
    events.push_back("file " + Relative(path));
    if (onOpened) onOpened(Relative(path));
  }
  void StillScanning() {}
  void ShowMatch(const std::string& path, std::uint64_t position, const MatchView& view) {
    std::string line = "match " + Relative(path) + " " + std::to_string(position);
    if (asks_) {
      line += " [" + std::string(view.before) + "|" + std::string(view.match) + "|" +
              std::string(view.after) + "]";
    } else {
      EXPECT_TRUE(view.before.empty() && view.match.empty() && view.after.empty()) << line;
    }
    events.push_back(line);
  }
  MatchDecision AskAboutMatch() {
    EXPECT_TRUE(asks_) << "a sink that does not ask was asked";
    if (onAsk) onAsk(asked);
    ++asked;
    if (decisions.empty()) return MatchDecision::Continue;
    const MatchDecision next = decisions.front();
    decisions.erase(decisions.begin());
    return next;
  }

  std::vector<std::string> events;
  std::vector<MatchDecision> decisions;
  std::function<void(int)> onAsk;  // given how many questions came before
  std::function<void(const std::string&)> onOpened;  // given the file's relative path
  int asked = 0;

 private:
  std::string Relative(const std::string& path) const {
    std::string relative = path.rfind(root_, 0) == 0 ? path.substr(root_.size() + 1) : path;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return relative;
  }

  std::string root_;
  bool asks_;
};

// Runs the walk from `root` as the driver does, with a fresh tally, and returns it.
inline SearchTally Walk(const std::string& root, const std::string& text, const std::string& pattern,
                 bool recursive, RecordingSink& sink, ReadWay way = ReadWay::Adaptive) {
  searchSettings = SearchSettings{text, recursive, pattern};
  searchTally = SearchTally{};
  const LeadBytes oneByte;
  SearchSetup setup(searchSettings, oneByte);
  FileReads reads(way);
  SearchDirectory(root, reads, oneByte, setup, SearchSink(sink));
  return searchTally;
}

}  // namespace qz_test

#endif  // QZ_TESTS_SUPPORT_RECORDING_SINK_H_
