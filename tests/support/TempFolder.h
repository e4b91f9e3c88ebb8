// A fresh folder for one test, removed with its contents when the test ends. It lies in memory
// (/dev/shm) where the system has that, since the code under test fsyncs every file it finishes,
// and under the system's temporary folder otherwise.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace kestel::test {

class TempFolder {
public:
  TempFolder() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::string pattern = (base / "kestel-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    EXPECT_FALSE(path_.empty());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

} // namespace kestel::test
