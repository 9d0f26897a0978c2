#include "trace_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/log/hx_trace.h"
#include "scoped_sandbox.h"

namespace {

namespace fs = std::filesystem;

class TraceFileEnvironment : public ::testing::Environment {
 public:
  static fs::path& Path() {
    static fs::path path;
    return path;
  }
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tidesync-trace-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    Path() = directory_ / "trace.log";
    platform::testing::SetEnvironment("NOLT_TRACE", Path().string());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

 private:
  fs::path directory_;
};

[[maybe_unused]] ::testing::Environment* const g_traceFile =
    ::testing::AddGlobalTestEnvironment(new TraceFileEnvironment);

}  // namespace

TraceCapture::TraceCapture() {
  std::error_code ignored;
  const fs::path& path = TraceFileEnvironment::Path();
  start_ = fs::exists(path, ignored) ? fs::file_size(path, ignored) : 0;
  HxTrace::Instance().SetMasks(0xFFFFFFFF, 0xFFFFFFFF);
}

TraceCapture::~TraceCapture() {
  HxTrace::Instance().SetMasks(HxTrace::kDefaultMask, HxTrace::kDefaultMask);
}

std::string TraceCapture::Text() const {
  std::ifstream in(TraceFileEnvironment::Path(), std::ios::binary);
  in.seekg(static_cast<std::streamoff>(start_));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
