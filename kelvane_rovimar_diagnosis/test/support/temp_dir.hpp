// A directory of its own for each test, removed with everything in it.
#ifndef TEST_SUPPORT_TEMP_DIR_HPP_
#define TEST_SUPPORT_TEMP_DIR_HPP_

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace test_support {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "diagnosis-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// Writes `content` to `name` inside the directory and returns its path.
  std::string write(const std::string& name, const std::string& content) const {
    const std::string file = (path_ / name).string();
    std::ofstream(file) << content;
    return file;
  }
  std::string path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace test_support

#endif  // TEST_SUPPORT_TEMP_DIR_HPP_
