#include "scan/RecordText.h"

#include "signature/PixelDigest.h"

namespace norvane {

namespace text_block {

char* Make(std::string_view text, char marker) {
  auto block = std::make_unique_for_overwrite<char[]>(4 + text.size() + 1);
  const auto length = static_cast<std::uint32_t>(text.size());
  std::memcpy(block.get(), &length, sizeof length);
  std::memcpy(block.get() + 4, text.data(), text.size());
  block[4 + text.size()] = marker;
  return block.release();
}

void Free(char* block) { std::unique_ptr<char[]> owned(block); }

}  // namespace text_block

namespace {

// Where the digits of a date text go, and the separators between them.
constexpr char kDateShape[] = "0000/00/00 00:00:00";
static_assert(sizeof kDateShape == DateField::kLength + 1);

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool PackDateText(std::string_view text, std::uint64_t& digits) {
  if (text.size() != DateField::kLength) return false;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < DateField::kLength; ++i) {
    if (kDateShape[i] != '0') {
      if (text[i] != kDateShape[i]) return false;
    } else if (IsDigit(text[i])) {
      value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    } else {
      return false;
    }
  }
  digits = value;
  return true;
}

void UnpackDateText(std::uint64_t digits, char (&text)[19]) {
  for (std::size_t i = DateField::kLength; i-- > 0;) {
    if (kDateShape[i] != '0') {
      text[i] = kDateShape[i];
    } else {
      text[i] = static_cast<char>('0' + digits % 10);
      digits /= 10;
    }
  }
}

// --- SharedText ---------------------------------------------------------------

SharedText::SharedText(std::string text) {
  auto node = std::make_unique<Node>();
  node->text = std::move(text);
  node_ = node.release();
}

void SharedText::Drop() {
  // The last holder frees the text; acquire-release orders every holder's
  // reads of it before that.
  if (node_ != nullptr && node_->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    std::unique_ptr<Node> last(node_);
  }
  node_ = nullptr;
}

// --- DateField ---------------------------------------------------------------

DateField& DateField::operator=(const DateField& other) {
  if (this != &other) {
    char* const old = Block();
    word_ = other.Packed() || other.word_ == 0 ? other.word_
                                               : reinterpret_cast<std::uintptr_t>(text_block::Make(other.text().view(), 0));
    text_block::Free(old);
  }
  return *this;
}

DateField DateField::FromParts(int year, int month, int day, int hour, int minute, int second) {
  const std::uint64_t digits = static_cast<std::uint64_t>(year) * 10000000000ull +
                               static_cast<std::uint64_t>(month) * 100000000ull +
                               static_cast<std::uint64_t>(day) * 1000000ull + static_cast<std::uint64_t>(hour) * 10000ull +
                               static_cast<std::uint64_t>(minute) * 100ull + static_cast<std::uint64_t>(second);
  DateField date;
  date.word_ = (digits << 1) | 1;
  return date;
}

void DateField::assign(std::string_view text) {
  // The new value is formed before the old block goes: `text` may lie in it.
  char* const old = Block();
  std::uint64_t digits = 0;
  if (PackDateText(text, digits)) {
    word_ = (digits << 1) | 1;
  } else {
    word_ = text.empty() ? 0 : reinterpret_cast<std::uintptr_t>(text_block::Make(text, 0));
  }
  text_block::Free(old);
}

ShortText DateField::text() const {
  if (!Packed()) {
    const char* block = Block();
    return block != nullptr ? ShortText(text_block::Text(block).data(), text_block::Length(block)) : ShortText();
  }
  ShortText text;
  char out[kLength];
  UnpackDateText(Digits(), out);
  std::memcpy(text.room(), out, kLength);
  text.setOwnSize(kLength);
  return text;
}

int Compare(const DateField& a, const DateField& b) {
  // Texts of the one shape order as their digits do.
  if (a.Packed() && b.Packed()) return a.Digits() < b.Digits() ? -1 : a.Digits() > b.Digits() ? 1 : 0;
  const int order = a.text().view().compare(b.text().view());
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// --- DigestField ---------------------------------------------------------------

DigestField& DigestField::operator=(const DigestField& other) {
  if (this != &other) {
    if (other.Kind() == kOther) {
      assign(other.text().view());
    } else {
      char* const old = Block();
      std::memcpy(raw_, other.raw_, sizeof raw_);
      text_block::Free(old);
    }
  }
  return *this;
}

void DigestField::assign(std::string_view text) {
  char* const old = Block();
  unsigned char raw[sizeof raw_] = {};
  bool hex = text.size() == kDigestTextLength;
  for (std::size_t i = 0; hex && i < 16; ++i) {
    const int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
    hex = high >= 0 && low >= 0;
    raw[i] = static_cast<unsigned char>(high << 4 | low);
  }
  if (hex) {
    raw[16] = kMd5;
  } else if (text.empty()) {
    raw[16] = kEmpty;
  } else {
    char* const block = text_block::Make(text, 1);
    std::memcpy(raw, &block, sizeof block);
    raw[16] = kOther;
  }
  std::memcpy(raw_, raw, sizeof raw_);
  text_block::Free(old);
}

std::size_t DigestField::size() const {
  switch (Kind()) {
    case kMd5: return kDigestTextLength;
    case kOther: return text_block::Length(Block());
    default: return 0;
  }
}

ShortText DigestField::text() const {
  switch (Kind()) {
    case kMd5: {
      ShortText text;
      char out[kDigestTextLength + 1];
      DigestText(raw_, out);
      std::memcpy(text.room(), out, kDigestTextLength);
      text.setOwnSize(kDigestTextLength);
      return text;
    }
    case kOther: {
      const std::string_view text = text_block::Text(Block());
      return ShortText(text.data(), text.size());
    }
    default: return ShortText();
  }
}

std::string_view DigestField::key() const {
  switch (Kind()) {
    case kMd5: return {reinterpret_cast<const char*>(raw_), sizeof raw_};
    case kOther: return text_block::Marked(Block());
    default: return {};
  }
}

// --- NameField ---------------------------------------------------------------

NameField& NameField::operator=(const NameField& other) {
  if (this != &other) {
    if (other.Tag() == kInBlock) {
      assign(other.view());
    } else {
      char* const old = Block();
      std::memcpy(raw_, other.raw_, sizeof raw_);
      text_block::Free(old);
    }
  }
  return *this;
}

void NameField::assign(std::string_view text) {
  // The new value is formed before the old block goes: `text` may lie in it,
  // or in raw_ itself.
  char* const old = Block();
  char raw[sizeof raw_] = {};
  if (text.size() <= kInline) {
    if (!text.empty()) std::memcpy(raw, text.data(), text.size());
    raw[kInline] = static_cast<char>(text.size());
  } else {
    char* const block = text_block::Make(text, 0);
    std::memcpy(raw, &block, sizeof block);
    raw[kInline] = static_cast<char>(kInBlock);
  }
  std::memcpy(raw_, raw, sizeof raw_);
  text_block::Free(old);
}

}  // namespace norvane
