#include "cli/ConsoleView.h"

#include <utility>

#include "i18n/Texts.h"

namespace norvane::cli {

volatile std::sig_atomic_t g_interruptRequested = 0;

namespace {

// The status texts break their two lines with LF CR; on one console line
// both become a space.
std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (char c : text) {
    if (c == '\n') {
      line += ' ';
    } else if (c != '\r') {
      line += c;
    }
  }
  return line;
}

}  // namespace

void AppendEscapedField(std::string& out, std::string_view text) {
  // Most cells need no escape: they go over in one piece.
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char* escape = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
    if (escape == nullptr) continue;
    out.append(text.substr(start, i - start)).append(escape);
    start = i + 1;
  }
  out.append(text.substr(start));
}

std::string EscapeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscapedField(out, text);
  return out;
}

ConsoleView::ConsoleView(Settings& settings, std::string folder, ProgressStyle style, std::FILE* err)
    : settings_(settings), folder_(std::move(folder)), style_(style), err_(err) {}

void ConsoleView::CommitEdits() { settings_.SearchFolder = folder_; }

void ConsoleView::SetStatusText(std::string_view text) {
  switch (style_) {
    case ProgressStyle::None:
      return;
    case ProgressStyle::Line:
    {
      // Carriage return, the text, then erase to the end of the line.
      std::string line = "\r";
      line += OneLine(Localize(text));
      line += "\x1b[K";
      Write(line);
    }
      lineOpen_ = !text.empty();
      return;
    case ProgressStyle::Lines:
      if (!text.empty()) Write(OneLine(Localize(text)) + "\n");
      return;
  }
}

// Every line goes out in one write, so a reader of the stream never sees
// half a line.
void ConsoleView::Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), err_);
  std::fflush(err_);
}

void ConsoleView::PrintMessage(std::string_view text, std::string_view caption) {
  std::string line;
  if (lineOpen_) {
    line = "\r\x1b[K";  // the message replaces the progress line
    lineOpen_ = false;
  }
  line += Localize(caption);
  line += ": ";
  line += Localize(text);
  line += '\n';
  Write(line);
}

void ConsoleView::Warn(std::string_view text) { PrintMessage(text, "norvane-cli: warning"); }

bool ConsoleView::AskYesNo(std::string_view text, std::string_view caption) {
  PrintMessage(text, caption);
  return true;
}

void ConsoleView::Inform(std::string_view text, std::string_view caption) { PrintMessage(text, caption); }

void ConsoleView::ClearPanes() {
  slots_.Clear(ImageSlots::kLeft);
  slots_.Clear(ImageSlots::kRight);
}

const DecodedImage* ConsoleView::SetLeftImage(const FileRecord&, std::unique_ptr<DecodedImage> decoded) {
  slots_.Put(ImageSlots::kLeft, std::move(decoded));
  return slots_.Get(ImageSlots::kLeft);
}

void ConsoleView::PumpMessages() {
  if (g_interruptRequested == 0 || interrupted_) return;
  interrupted_ = true;
  if (session_ != nullptr) session_->OnStart();
}

}  // namespace norvane::cli
