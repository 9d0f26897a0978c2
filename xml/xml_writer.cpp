#include "xml/xml_writer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/files.h"
#include "platform/sandbox.h"
#include "xml/xml_records.h"
#include "xml/xml_text.h"

namespace xml_writer {
namespace {

constexpr std::string_view kFileNewline = "\r\n";  // files are written as text files are
constexpr std::string_view kStringNewline = "\n";
constexpr int kRenderDepth = 3;
constexpr int kIndentPerLevel = 3;

class ElementWriter {
 public:
  ElementWriter(std::FILE* file, bool escape, std::string_view newline)
      : m_file(file), m_escape(escape), m_newline(newline) {}

  bool Ok() const { return m_ok; }

  void WriteDeclaration(const XmlDocument& document) {
    Put("<?xml version=\"");
    Put(document.version.value_or("1.0"));
    Put("\" encoding=\"");
    Put(document.encoding.value_or("UTF-8"));
    Put(document.standalone > 0 ? "\" standalone=\"yes\"?>\n\n" : "\" standalone=\"no\"?>\n\n");
  }

  // The subtree of `top`, without recursion so that deep documents cannot exhaust the stack.
  void WriteSubtree(const XmlElement& top, int depth) {
    const XmlElement* element = &top;
    for (;;) {
      const bool opened = Open(*element, depth);
      if (opened && element->firstChild != nullptr) {
        element = element->firstChild;
        ++depth;
        continue;
      }
      if (opened) Close(*element, depth);
      while (element != &top && element->nextSibling == nullptr) {
        element = element->parent;
        Close(*element, --depth);
      }
      if (element == &top) return;
      element = element->nextSibling;
    }
  }

 private:
  // The start tag; false when the element went out in the short form and needs no end tag.
  bool Open(const XmlElement& element, int depth) {
    Indent(depth);
    Put("<");
    Put(element.name);
    for (const XmlAttribute* a = element.attributes.first; a != nullptr; a = a->next) {
      Put(" ");
      Put(a->name);
      Put("=\"");
      PutValue(a->value);
      Put("\"");
    }
    if (!element.hasText && element.firstChild == nullptr && element.parent != nullptr) {
      Put("/>\n");
      return false;
    }
    Put(element.hasText ? ">" : ">\n");
    return true;
  }

  // The text, then the end tag.
  void Close(const XmlElement& element, int depth) {
    bool section = false;
    if (element.hasText) {
      const std::string_view text = element.text.View();
      section = element.cdata && text.find("<![CDATA[") == std::string_view::npos &&
                text.find("]]>") == std::string_view::npos;
      if (section) {
        Put("\n<![CDATA[\n");
        Put(text);
        Put("\n]]>\n");
      } else {
        PutValue(text);
      }
    }
    if (!element.hasText || section) Indent(depth);
    Put("</");
    Put(element.name);
    Put(">\n");
  }

  void Indent(int depth) {
    static constexpr std::string_view kSpaces = "                                ";
    for (size_t left = static_cast<size_t>(depth * kIndentPerLevel); left > 0;) {
      const size_t part = std::min(left, kSpaces.size());
      Put(kSpaces.substr(0, part));
      left -= part;
    }
  }

  void PutValue(std::string_view value) {
    if (!m_escape) return Put(value);
    std::string escaped;
    xml_text::AppendEscaped(escaped, value);
    Put(escaped);
  }

  // Writes `text` with each line feed replaced by the newline of the output.
  void Put(std::string_view text) {
    for (;;) {
      const size_t end = text.find('\n');
      Raw(text.substr(0, end));
      if (end == std::string_view::npos) return;
      Raw(m_newline);
      text.remove_prefix(end + 1);
    }
  }

  void Raw(std::string_view bytes) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size()) {
      m_ok = false;
    }
  }

  std::FILE* m_file;
  bool m_escape;
  std::string_view m_newline;
  bool m_ok = true;
};

// Opens `path` for writing, hands a writer to `write`, closes the file.
bool WriteFile(const std::string& path, bool escape, std::string_view newline,
               const std::function<void(ElementWriter&)>& write) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  ElementWriter writer(file, escape, newline);
  write(writer);
  const bool closed = std::fclose(file) == 0;
  return writer.Ok() && closed;
}

// The replacement keeps the permissions of the file it replaces; a new file is readable by all,
// as files made with the usual creation mask are (the temporary file starts private).
bool TakePermissions(const std::string& temp, const std::string& target) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(target, error);
  const fs::perms perms = fs::exists(status) ? status.permissions()
                                             : fs::perms::owner_read | fs::perms::owner_write |
                                                   fs::perms::group_read | fs::perms::others_read;
  fs::permissions(temp, perms, error);
  return !error;
}

}  // namespace

bool SaveDocument(const XmlDocument& document, bool escape, const std::string& path) {
  const std::string directory = platform::DirectoryOf(path);
  if (!directory.empty()) platform::EnsureDirectory(directory);
  std::string temp;
  if (!platform::CreateTempFile(directory, "_tx", temp)) return false;
  const bool ok = WriteFile(temp, escape, kFileNewline,
                            [&document](ElementWriter& writer) {
                              writer.WriteDeclaration(document);
                              if (document.root != nullptr) writer.WriteSubtree(*document.root, 0);
                            }) &&
                  TakePermissions(temp, path) && platform::ReplaceFile(temp, path);
  if (!ok) platform::DeleteFile(temp);
  return ok;
}

bool RenderElement(const XmlElement& element, bool escape, const std::string& directory,
                   HxStr& out) {
  std::string temp;
  if (!platform::CreateTempFile(directory, "_tf", temp)) return false;
  bool ok = WriteFile(temp, escape, kStringNewline, [&element](ElementWriter& writer) {
    writer.WriteSubtree(element, kRenderDepth);
  });
  std::string text;
  if (std::FILE* file = ok ? std::fopen(temp.c_str(), "rb") : nullptr) {
    char block[8192];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
    ok = !std::ferror(file);
    std::fclose(file);
  } else {
    ok = false;
  }
  platform::DeleteFile(temp);
  if (ok) out = HxStr(text);
  return ok;
}

}  // namespace xml_writer
