// A scratch directory tree for tests, removed with everything in it when the test ends, paths
// longer than the system takes included.
#ifndef QZ_TESTS_SUPPORT_TEMP_TREE_H_
#define QZ_TESTS_SUPPORT_TEMP_TREE_H_

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace qz_test {

class TempTree {
 public:
  TempTree() : TempTree(std::filesystem::temp_directory_path()) {}
  // Under `base` (/dev/shm, say, for a tree of many directories that other file systems are
  // slow to remove), or the system's temporary directory when `base` cannot be written.
  explicit TempTree(const std::filesystem::path& base) {
    std::random_device random;
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path parent = fs::is_directory(base, error) ? base : fs::temp_directory_path();
    fs::path root;
    do root = parent / ("qz-test-" + std::to_string(random()));
    while (!fs::create_directory(root, error) && !error);
    if (error) {
      root = fs::temp_directory_path() / ("qz-test-" + std::to_string(random()));
      fs::create_directory(root);
    }
    root_ = root.string();
  }
  ~TempTree() {
    std::error_code error;
    std::filesystem::remove_all(root_, error);
#ifndef _WIN32
    // A tree whose paths grow past the system's limit defeats remove_all; rm removes it a
    // directory at a time. The root is a name of ours, with nothing to quote.
    if (error && std::system(("rm -rf -- " + root_).c_str()) != 0) {
      // Left behind in the temporary directory: nothing more a test could do about it.
    }
#endif
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& path() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  // Writes a file (and the directories above it); returns its path.
  std::string File(const std::string& relative, std::string_view content) const {
    std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
    std::ofstream out(Path(relative), std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return Path(relative);
  }
  std::string Directory(const std::string& relative) const {
    std::filesystem::create_directories(Path(relative));
    return Path(relative);
  }
  void Symlink(const std::string& relative, const std::string& target) const {
    std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
    std::filesystem::create_symlink(target, Path(relative));
  }

 private:
  std::string root_;
};

}  // namespace qz_test

#endif  // QZ_TESTS_SUPPORT_TEMP_TREE_H_
