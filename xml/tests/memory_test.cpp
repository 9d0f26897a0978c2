// Memory of a load: the bytes held through operator new stay proportional to the tree built,
// never a copy of the file. This executable replaces the global operator new and delete to
// count the live bytes and their peak.
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "xml/tu_xml_tree.h"
#include "xml/xml_records.h"
#include "xml_test_support.h"

namespace {

std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

// Each block carries its size in a header of the strictest fundamental alignment.
constexpr size_t kHeader = alignof(std::max_align_t);

void* Allocate(size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) return nullptr;
  *static_cast<size_t*>(block) = size;
  const long long live =
      g_live.fetch_add(static_cast<long long>(size)) + static_cast<long long>(size);
  long long peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return static_cast<char*>(block) + kHeader;
}

void Release(void* pointer) {
  if (pointer == nullptr) return;
  void* block = static_cast<char*>(pointer) - kHeader;
  g_live.fetch_sub(static_cast<long long>(*static_cast<size_t*>(block)));
  std::free(block);
}

}  // namespace

void* operator new(size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

using XmlMemoryTest = XmlTest;

// The bytes held after a load stay within what its tree needs, and the peak during the load
// stays close to that: the file is never held.
TEST_F(XmlMemoryTest, LoadHoldsTheTreeAndNeverTheFile) {
  const long long element = static_cast<long long>(sizeof(XmlElement));
  const std::string indented = std::string(2000, ' ') + "<a/>\n";
  const std::string comments =
      "<r>\n" + Repeat("<!-- " + std::string(1000, 'c') + " -->\n", 8 << 20) + "<a>kept</a>\n</r>";
  std::string pieces = "<r><e>";  // every reference hands the text over in another piece
  for (int i = 0; i < 20000; ++i) pieces += "ab&amp;";
  const struct {
    const char* what;
    std::string text;
    bool trim;
    long long held;          // at most, after the load
    long long peakOverHeld;  // at most, during the load
    int lastText;            // the length of the root's last child's text
  } kFiles[] = {
      // Without the trim flag the line feeds beside the children are held until the root ends.
      {"comments", comments, false, 4 << 10, 40 << 10, 4},
      {"comments, trimmed", comments, true, 4 << 10, 8 << 10, 4},
      {"indentation, trimmed", "<r>\n" + Repeat(indented, 4 << 20) + "</r>\n", true,
       static_cast<long long>((4 << 20) / indented.size() + 1) * (element + 64), 8 << 10, 0},
      // Each text is held once with little spare room.
      {"texts", "<r>\n" + Repeat("<e>" + std::string(1000, 'v') + "</e>\n", 8000 * 1008) + "</r>",
       false, 8000 * (element + 1000 + 128), 64 << 10, 1000},
      // A text grown piece by piece is held twice while it moves to larger room.
      {"text in pieces", pieces + "</e></r>", true, 60000 + (4 << 10), 128 << 10, 60000},
  };
  for (const auto& file : kFiles) {
    SCOPED_TRACE(file.what);
    const std::string path = WriteFile("load.xml", file.text);
    TuXMLTree tree;
    const long long before = g_live.load();
    g_peak.store(before);
    ASSERT_TRUE(tree.LoadFile(path, file.trim, false));
    const long long held = g_live.load() - before;
    EXPECT_LT(held, file.held);
    EXPECT_LT(g_peak.load() - before - held, file.peakOverHeld);
    TuXMLNode last;
    for (TuXMLNode c = tree.GetRoot().GetFirstChild(); c.IsValid();
         c = tree.GetRoot().GetNextChild(c)) {
      last = c;
    }
    EXPECT_EQ(last.GetText().GetLength(), file.lastText);
  }
}

TEST_F(XmlMemoryTest, EditingReusesTheRecordsOfDeletedElements) {
  TuXMLTree tree;
  ASSERT_TRUE(tree.CreateNew());
  const TuXMLNode root = tree.CreateRoot("r");
  auto addAndDelete = [&] {
    for (int i = 0; i < 500; ++i) root.AddChild("c").SetAttribute("a", "v");
    EXPECT_TRUE(root.RemoveChildren("c"));
  };
  addAndDelete();
  const long long settled = g_live.load();
  for (int round = 0; round < 20; ++round) addAndDelete();
  EXPECT_EQ(g_live.load(), settled);

  // Replacing texts gives their storage back, short ones to the pool and long ones to the heap.
  const TuXMLNode child = root.AddChild("t");
  for (const size_t size : {10u, 200u, 5000u}) child.SetText(std::string(size, 'x'), false);
  const long long withTexts = g_live.load();
  for (int round = 0; round < 20; ++round) {
    for (const size_t size : {10u, 200u, 5000u}) child.SetText(std::string(size, 'y'), false);
  }
  EXPECT_EQ(g_live.load(), withTexts);
  EXPECT_EQ(S(child.GetText()), std::string(5000, 'y'));
}

}  // namespace
