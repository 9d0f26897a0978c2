#include "manifest_test_support.h"

#include <filesystem>
#include <fstream>

#include "foundation/context/context_store.h"

bool FakeHarvest::Translate(HxStr text, HxStr& out) {
  ++m_calls;
  const std::string source(std::string_view(text).data(), std::string_view(text).size());
  std::string result;
  bool anyToken = false;
  size_t pos = 0;
  while (pos < source.size()) {
    const size_t open = source.find('%', pos);
    const size_t close = open == std::string::npos ? open : source.find('%', open + 1);
    if (close == std::string::npos) break;
    const std::string token = source.substr(open, close - open + 1);
    result += source.substr(pos, open - pos);
    if (token.find("::") == std::string::npos) {
      result += token;
    } else {
      anyToken = true;
      const auto known = m_values.find(token);
      result += known == m_values.end() ? token : known->second;
    }
    pos = close + 1;
  }
  result += source.substr(pos);
  out = anyToken ? HxStr(result) : text;
  return anyToken;
}

ManifestTest::ManifestTest() {
  ClearContextStore();
  EXPECT_TRUE(LoadContext(kProvider, "http://host/path", "tester", false));
}

ManifestTest::~ManifestTest() { ClearContextStore(); }

std::string ManifestTest::WriteFile(const std::string& name, std::string_view bytes) const {
  const std::filesystem::path path = std::filesystem::path(sandbox_.Root()) / name;
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return path.string();
}

int ManifestTest::CountLogged(uint32_t level, const std::string& text) const {
  int count = 0;
  for (const LoggedLine& line : log_.Lines()) {
    if (line.level == level && line.text == text) ++count;
  }
  return count;
}
