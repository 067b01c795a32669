// Text fields of a FileRecord that cost little memory: a date and a digest
// packed into a few bytes when they have their usual shape (and kept exactly
// otherwise), a name held inline when it is short, and a text shared by every
// record of one folder. They compare and assign like strings; the packed ones
// give their text through text().
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace norvane {

// A text kept exactly in a heap block of its own, for the rare values a
// compact field cannot pack: its length (4 bytes), its bytes and one marker
// byte. The fields below own such blocks through a plain pointer that
// shares room with their packed form.
namespace text_block {
char* Make(std::string_view text, char marker);  // never null
void Free(char* block);                          // null is allowed
inline std::size_t Length(const char* block) {
  std::uint32_t length = 0;
  std::memcpy(&length, block, sizeof length);
  return length;
}
// The text, and the text with its marker byte.
inline std::string_view Text(const char* block) { return {block + 4, Length(block)}; }
inline std::string_view Marked(const char* block) { return {block + 4, Length(block) + 1}; }
}  // namespace text_block

// A text of a few bytes handed out by value, for fields that do not keep
// their text: it reads like a string_view while it lives.
class ShortText {
 public:
  ShortText() = default;
  ShortText(const char* data, std::size_t size) : data_(data), size_(size) {}
  std::string_view view() const { return {data_ != nullptr ? data_ : own_, size_}; }
  operator std::string_view() const { return view(); }  // NOLINT: reads like a string
  std::string str() const { return std::string(view()); }
  char* room() { return own_; }
  void setOwnSize(std::size_t size) { size_ = size; }

 private:
  const char* data_ = nullptr;  // when null, the text is in own_
  std::size_t size_ = 0;
  char own_[40];  // filled by the field that hands the text out
};

// A text of the date shape "YYYY/MM/DD hh:mm:ss" (19 bytes, digits where
// the digits go) as its 14 digits read as one number, and back. Texts of the
// shape order as their numbers do.
bool PackDateText(std::string_view text, std::uint64_t& digits);
void UnpackDateText(std::uint64_t digits, char (&text)[19]);

// The modification time of a record: "YYYY/MM/DD hh:mm:ss". A text of that
// shape (19 bytes, digits where the digits go) is held as its 14 digits in
// one word; any other text (a year beyond 9999, a cache entry of another
// shape) is kept exactly in a block of its own. Reads, compares and assigns
// like a string; view it through text().
class DateField {
 public:
  static constexpr std::size_t kLength = 19;

  DateField() = default;
  DateField(const DateField& other) { *this = other; }
  DateField(DateField&& other) noexcept : word_(std::exchange(other.word_, 0)) {}
  DateField& operator=(const DateField& other);
  DateField& operator=(DateField&& other) noexcept {
    std::swap(word_, other.word_);
    return *this;
  }
  ~DateField() { text_block::Free(Block()); }
  DateField(std::string_view text) { assign(text); }  // NOLINT: reads like a string
  DateField(const std::string& text) { assign(text); }  // NOLINT
  DateField(const char* text) { assign(text); }  // NOLINT
  DateField& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  DateField& operator=(const std::string& text) { return *this = std::string_view(text); }
  DateField& operator=(const char* text) { return *this = std::string_view(text); }

  // The date of the calendar fields given, which must each have the digits
  // the shape allows (a year of at most four digits).
  static DateField FromParts(int year, int month, int day, int hour, int minute, int second);

  void assign(std::string_view text);
  void clear() { *this = DateField(); }
  bool empty() const { return word_ == 0; }
  std::size_t size() const { return Packed() ? kLength : text().view().size(); }
  ShortText text() const;
  std::string str() const { return text().str(); }
  operator std::string() const { return str(); }  // NOLINT

  // Byte order of the texts: unsigned values, a proper prefix first.
  friend int Compare(const DateField& a, const DateField& b);
  friend bool operator==(const DateField& a, const DateField& b) {
    if (a.Packed() || b.Packed()) return a.word_ == b.word_;
    return a.text().view() == b.text().view();
  }
  friend bool operator==(const DateField& a, std::string_view b) { return a.text().view() == b; }
  friend bool operator==(const DateField& a, const std::string& b) { return a == std::string_view(b); }
  friend bool operator==(const DateField& a, const char* b) { return a == std::string_view(b); }
  friend std::string operator+(std::string a, const DateField& b) { return a.append(b.text().view()); }
  friend std::string operator+(const DateField& a, std::string_view b) { return a.str().append(b); }
  friend std::ostream& operator<<(std::ostream& out, const DateField& date) { return out << date.text().view(); }

 private:
  bool Packed() const { return (word_ & 1) != 0; }
  std::uint64_t Digits() const { return word_ >> 1; }
  char* Block() const { return Packed() ? nullptr : reinterpret_cast<char*>(word_); }

  // 0: no text; odd: the 14 digits times 2 plus 1; otherwise the address of
  // the block that holds a text of another shape (blocks are aligned).
  std::uintptr_t word_ = 0;
};
static_assert(sizeof(std::uintptr_t) == sizeof(std::uint64_t));

// The pixel digest of a record: 32 lower-case hexadecimal characters, the
// form every computed digest and every usable cache entry has, is held as
// its 16 bytes; any other text (a cache file may hold one) is kept exactly
// in a block of its own, so that it is written back unchanged.
//
// The field converts to a string_view that is its identity key, not its
// text: equal texts give equal keys and different texts different keys, for
// hashing and comparing digests without forming their texts. The key stays
// valid while the field is unchanged. The text is str() or text().
class DigestField {
 public:
  DigestField() = default;
  DigestField(const DigestField& other) { *this = other; }
  DigestField(DigestField&& other) noexcept { Swap(other); }
  DigestField& operator=(const DigestField& other);
  DigestField& operator=(DigestField&& other) noexcept {
    Swap(other);
    return *this;
  }
  ~DigestField() { text_block::Free(Block()); }
  DigestField(std::string_view text) { assign(text); }  // NOLINT: assigns like a string
  DigestField(const std::string& text) { assign(text); }  // NOLINT
  DigestField(const char* text) { assign(text); }  // NOLINT
  DigestField& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  DigestField& operator=(const std::string& text) { return *this = std::string_view(text); }
  DigestField& operator=(const char* text) { return *this = std::string_view(text); }

  void assign(std::string_view text);
  void clear() { *this = DigestField(); }
  bool empty() const { return Kind() == kEmpty; }
  // Whether the text is 32 lower-case hexadecimal characters.
  bool canonical() const { return Kind() == kMd5; }
  std::size_t size() const;
  ShortText text() const;
  std::string str() const { return text().str(); }

  std::string_view key() const;
  operator std::string_view() const { return key(); }  // NOLINT: the key, for hashed containers

  friend bool operator==(const DigestField& a, const DigestField& b) { return a.key() == b.key(); }
  friend bool operator==(const DigestField& a, std::string_view b) { return a.text().view() == b; }
  friend bool operator==(const DigestField& a, const std::string& b) { return a == std::string_view(b); }
  friend bool operator==(const DigestField& a, const char* b) { return a == std::string_view(b); }
  friend std::string operator+(std::string a, const DigestField& b) { return a.append(b.text().view()); }
  friend std::string operator+(const DigestField& a, std::string_view b) { return a.str().append(b); }
  friend std::ostream& operator<<(std::ostream& out, const DigestField& digest) { return out << digest.text().view(); }

 private:
  // raw_[16] tells what the first 16 bytes hold.
  static constexpr unsigned char kMd5 = 0;    // the digest's 16 bytes
  static constexpr unsigned char kEmpty = 1;  // nothing
  static constexpr unsigned char kOther = 2;  // the address of a text block
  unsigned char Kind() const { return raw_[16]; }
  char* Block() const {
    if (Kind() != kOther) return nullptr;
    char* block = nullptr;
    std::memcpy(&block, raw_, sizeof block);
    return block;
  }
  void Swap(DigestField& other) noexcept { std::swap(raw_, other.raw_); }

  // A digest's key is these 17 bytes, ending with 0; another text's key is
  // its text and the marker byte 1 of its block.
  unsigned char raw_[17] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kEmpty};
};
static_assert(sizeof(DigestField) == 17);

// The file name of a record in 16 bytes: a name of at most 15 bytes is held
// in them (its bytes, then its length in the last byte), a longer one in a
// block of its own whose address they hold. Most names are short, so most
// records need no heap block for their name. Any bytes are kept exactly, zero
// bytes included. Reads, compares and assigns like a string.
class NameField {
 public:
  static constexpr std::size_t kInline = 15;

  NameField() = default;
  NameField(const NameField& other) { *this = other; }
  NameField(NameField&& other) noexcept { Swap(other); }
  NameField& operator=(const NameField& other);
  NameField& operator=(NameField&& other) noexcept {
    Swap(other);
    return *this;
  }
  ~NameField() { text_block::Free(Block()); }
  NameField(std::string_view text) { assign(text); }  // NOLINT: reads like a string
  NameField(const std::string& text) { assign(text); }  // NOLINT
  NameField(const char* text) { assign(text); }  // NOLINT
  NameField& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  NameField& operator=(const std::string& text) { return *this = std::string_view(text); }
  NameField& operator=(const char* text) { return *this = std::string_view(text); }

  void assign(std::string_view text);
  std::string_view view() const {
    const char* block = Block();
    return block != nullptr ? text_block::Text(block) : std::string_view(raw_, Tag());
  }
  operator std::string_view() const { return view(); }  // NOLINT: reads like a string
  std::string str() const { return std::string(view()); }
  operator std::string() const { return str(); }  // NOLINT
  const char* data() const { return view().data(); }  // not zero-terminated
  std::size_t size() const { return view().size(); }
  bool empty() const { return Tag() == 0; }

  friend bool operator==(const NameField& a, const NameField& b) { return a.view() == b.view(); }
  friend bool operator==(const NameField& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const NameField& a, const std::string& b) { return a.view() == b; }
  friend bool operator==(const NameField& a, const char* b) { return a.view() == b; }
  friend std::string operator+(std::string a, const NameField& b) { return a.append(b.view()); }
  friend std::string operator+(const NameField& a, std::string_view b) { return a.str().append(b); }
  friend std::ostream& operator<<(std::ostream& out, const NameField& name) { return out << name.view(); }

 private:
  // The last byte: the length of a name held inline, or kInBlock.
  static constexpr unsigned char kInBlock = 0xff;
  unsigned char Tag() const { return static_cast<unsigned char>(raw_[kInline]); }
  char* Block() const {
    if (Tag() != kInBlock) return nullptr;
    char* block = nullptr;
    std::memcpy(&block, raw_, sizeof block);
    return block;
  }
  // Moving a field onto itself leaves it as it was.
  void Swap(NameField& other) noexcept { std::swap(raw_, other.raw_); }

  char raw_[kInline + 1] = {};  // an empty name
};
static_assert(sizeof(NameField) == 16 && sizeof(char*) <= NameField::kInline);

// A text that many records hold alike, allocated once and shared: copying
// it copies a reference (one word). Empty when nothing was assigned.
class SharedText {
 public:
  SharedText() = default;
  SharedText(std::string text);  // NOLINT: reads like a string
  SharedText(std::string_view text) : SharedText(std::string(text)) {}  // NOLINT
  SharedText(const char* text) : SharedText(std::string(text)) {}      // NOLINT
  SharedText(const SharedText& other) : node_(other.node_) { Hold(); }
  SharedText(SharedText&& other) noexcept : node_(std::exchange(other.node_, nullptr)) {}
  SharedText& operator=(const SharedText& other) {
    SharedText copy(other);
    std::swap(node_, copy.node_);
    return *this;
  }
  SharedText& operator=(SharedText&& other) noexcept {
    std::swap(node_, other.node_);
    return *this;
  }
  ~SharedText() { Drop(); }

  const std::string& str() const { return node_ ? node_->text : Empty(); }
  operator const std::string&() const { return str(); }       // NOLINT: reads like a string
  operator std::string_view() const { return str(); }         // NOLINT
  const char* c_str() const { return str().c_str(); }
  const char* data() const { return str().data(); }
  std::size_t size() const { return str().size(); }
  bool empty() const { return str().empty(); }

  // Records of one folder share one text, so the usual comparison is of
  // one pointer.
  friend bool operator==(const SharedText& a, const SharedText& b) {
    return a.node_ == b.node_ || a.str() == b.str();
  }
  friend bool operator==(const SharedText& a, std::string_view b) { return a.str() == b; }
  friend bool operator==(const SharedText& a, const std::string& b) { return a.str() == b; }
  friend bool operator==(const SharedText& a, const char* b) { return a.str() == b; }
  friend std::string operator+(const SharedText& a, std::string_view b) { return a.str() + std::string(b); }
  friend std::string operator+(const SharedText& a, const char* b) { return a.str() + b; }
  friend std::string operator+(std::string a, const SharedText& b) { return a.append(b.str()); }
  friend std::ostream& operator<<(std::ostream& out, const SharedText& text) { return out << text.str(); }

 private:
  struct Node {
    std::atomic<std::size_t> holders{1};
    std::string text;
  };
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }
  void Hold() {
    if (node_) node_->holders.fetch_add(1, std::memory_order_relaxed);
  }
  void Drop();

  Node* node_ = nullptr;
};

}  // namespace norvane
