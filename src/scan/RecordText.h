// Text fields of a FileRecord that cost no allocation of their own: a short
// text held inside the record, and a text shared by every record of one
// folder. Both read, compare and assign like strings, so that code written
// for std::string fields keeps working.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace norvane {

// A text of at most N bytes held inline. A longer text is cut to N bytes;
// the record fields that use it are sized for every text they can receive.
template <std::size_t N>
class InlineText {
  static_assert(N > 0 && N < 256);

 public:
  InlineText() = default;
  InlineText(std::string_view text) { assign(text); }  // NOLINT: reads like a string
  InlineText(const std::string& text) { assign(text); }  // NOLINT
  InlineText(const char* text) { assign(text); }  // NOLINT

  InlineText& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  InlineText& operator=(const std::string& text) { return *this = std::string_view(text); }
  InlineText& operator=(const char* text) { return *this = std::string_view(text); }

  void assign(std::string_view text) {
    size_ = static_cast<std::uint8_t>(std::min(text.size(), N));
    std::copy_n(text.data(), size_, bytes_);
  }
  void clear() { size_ = 0; }

  std::string_view view() const { return {bytes_, size_}; }
  std::string str() const { return std::string(view()); }
  operator std::string_view() const { return view(); }  // NOLINT
  operator std::string() const { return str(); }       // NOLINT

  const char* data() const { return bytes_; }
  std::size_t size() const { return size_; }
  std::size_t length() const { return size_; }
  bool empty() const { return size_ == 0; }
  char operator[](std::size_t i) const { return bytes_[i]; }
  std::string_view substr(std::size_t pos, std::size_t count = std::string_view::npos) const {
    return view().substr(pos, count);
  }

  friend bool operator==(const InlineText& a, const InlineText& b) { return a.view() == b.view(); }
  friend bool operator==(const InlineText& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const InlineText& a, const std::string& b) { return a.view() == b; }
  friend bool operator==(const InlineText& a, const char* b) { return a.view() == b; }
  friend std::string operator+(std::string a, const InlineText& b) { return a.append(b.view()); }
  friend std::string operator+(const InlineText& a, std::string_view b) { return a.str().append(b); }
  friend std::ostream& operator<<(std::ostream& out, const InlineText& text) { return out << text.view(); }

 private:
  std::uint8_t size_ = 0;
  char bytes_[N]{};
};

// A text that many records hold alike, allocated once and shared: copying
// it copies a reference. Empty when nothing was assigned.
class SharedText {
 public:
  SharedText() = default;
  SharedText(std::string text) : text_(std::make_shared<const std::string>(std::move(text))) {}  // NOLINT
  SharedText(std::string_view text) : SharedText(std::string(text)) {}  // NOLINT
  SharedText(const char* text) : SharedText(std::string(text)) {}      // NOLINT

  const std::string& str() const { return text_ ? *text_ : Empty(); }
  operator const std::string&() const { return str(); }       // NOLINT: reads like a string
  operator std::string_view() const { return str(); }         // NOLINT
  const char* c_str() const { return str().c_str(); }
  const char* data() const { return str().data(); }
  std::size_t size() const { return str().size(); }
  bool empty() const { return str().empty(); }

  // Records of one folder share one text, so the usual comparison is of
  // one pointer.
  friend bool operator==(const SharedText& a, const SharedText& b) {
    return a.text_ == b.text_ || a.str() == b.str();
  }
  friend bool operator==(const SharedText& a, std::string_view b) { return a.str() == b; }
  friend bool operator==(const SharedText& a, const std::string& b) { return a.str() == b; }
  friend bool operator==(const SharedText& a, const char* b) { return a.str() == b; }
  friend std::string operator+(const SharedText& a, std::string_view b) { return a.str() + std::string(b); }
  friend std::string operator+(const SharedText& a, const char* b) { return a.str() + b; }
  friend std::string operator+(std::string a, const SharedText& b) { return a.append(b.str()); }
  friend std::ostream& operator<<(std::ostream& out, const SharedText& text) { return out << text.str(); }

 private:
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }
  std::shared_ptr<const std::string> text_;
};

}  // namespace norvane
