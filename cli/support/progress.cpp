#include "support/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

namespace compatcrypt::cli {

namespace {

constexpr std::uint64_t kShownAbove = 4u << 20;
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr int kDefaultColumns = 80;
constexpr int kMinBar = 10;
constexpr int kMaxBar = 30;
constexpr int kMinName = 10;
constexpr std::string_view kEllipsis = "...";

// The terminal's width; the last column is left free, since writing into
// it makes some terminals wrap.
int UsableColumns() {
  winsize size{};
  const int columns = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col != 0
                          ? static_cast<int>(size.ws_col)
                          : kDefaultColumns;
  return columns - 1;
}

// A piece of a name as drawn, and the columns it takes.
struct Glyph {
  std::string text;
  int width;
};

// The name as drawable text: control characters and bytes that are not
// UTF-8 become '?', and every multi-byte character counts as two columns
// (wide characters do take two), so the width is never underestimated.
std::vector<Glyph> Glyphs(std::string_view name) {
  std::vector<Glyph> glyphs;
  for (std::size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
      length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
      length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
      length = 4;
    bool valid = length != 0 && i + length <= name.size();
    for (std::size_t k = 1; valid && k < length; ++k)
      valid = (static_cast<unsigned char>(name[i + k]) & 0xC0) == 0x80;
    if (valid) {
      glyphs.push_back({std::string(name.substr(i, length)), 2});
      i += length;
    } else {
      glyphs.push_back({lead >= 0x20 && lead < 0x7F ? std::string(1, name[i]) : "?", 1});
      ++i;
    }
  }
  return glyphs;
}

int WidthOf(const std::vector<Glyph> &glyphs) {
  int width = 0;
  for (const Glyph &glyph : glyphs) width += glyph.width;
  return width;
}

// The name in at most `room` columns: whole if it fits, otherwise its
// start and end around an ellipsis (both ends tell files apart best).
std::string Fit(const std::vector<Glyph> &glyphs, int room) {
  std::string text;
  if (WidthOf(glyphs) <= room) {
    for (const Glyph &glyph : glyphs) text += glyph.text;
    return text;
  }
  const int ends = room - static_cast<int>(kEllipsis.size());
  if (ends < 2) {
    int used = 0;
    for (std::size_t i = 0; i < glyphs.size() && used + glyphs[i].width <= room; ++i) {
      text += glyphs[i].text;
      used += glyphs[i].width;
    }
    return text;
  }
  const int headRoom = (ends + 1) / 2, tailRoom = ends / 2;
  std::size_t head = 0;
  for (int used = 0; head < glyphs.size() && used + glyphs[head].width <= headRoom; ++head)
    used += glyphs[head].width;
  std::size_t tail = glyphs.size();
  for (int used = 0; tail > head && used + glyphs[tail - 1].width <= tailRoom; --tail)
    used += glyphs[tail - 1].width;
  for (std::size_t i = 0; i < head; ++i) text += glyphs[i].text;
  text += kEllipsis;
  for (std::size_t i = tail; i < glyphs.size(); ++i) text += glyphs[i].text;
  return text;
}

std::string Bytes(double count) {
  static constexpr const char *kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (count < 1024) return std::to_string(static_cast<unsigned>(count)) + " B";
  int unit = 0;
  for (count /= 1024; count >= 1024 && unit < 5; count /= 1024) ++unit;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", count, kUnits[unit]);
  return text;
}

// Figures that change as the line is redrawn are right-aligned in a fixed
// width, so that the rest of the line stays in place.
std::string Aligned(const std::string &text, int width) {
  return text.size() < static_cast<std::size_t>(width) ? std::string(width - text.size(), ' ') + text : text;
}

// "m:ss" or "h:mm:ss".
std::string Duration(double seconds) {
  const auto total = static_cast<unsigned long long>(seconds + 0.5);
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%llu:%02llu", total / 60, total % 60);
  return text;
}

// The whole line in at most `columns` columns. When it is too narrow, the
// name is shortened (down to kMinName columns), then parts of the line are
// left out, the least useful first.
std::string Line(const std::string &name, std::uint64_t done, std::uint64_t total, std::optional<double> rate,
                 int columns) {
  const std::uint64_t shownDone = done < total ? done : total;
  const int share = static_cast<int>(static_cast<double>(shownDone) * 100 / static_cast<double>(total));
  char percentText[8];
  std::snprintf(percentText, sizeof percentText, "%3d%%", share);
  const std::string percent = percentText;
  std::string rateText, left;
  if (rate && *rate > 0) {
    rateText = Aligned(Bytes(*rate), 9) + "/s";
    left = Duration(static_cast<double>(total - shownDone) / *rate) + " left";
  }
  const std::string bytes =
      Aligned(Bytes(static_cast<double>(shownDone)), 9) + " of " + Bytes(static_cast<double>(total));

  // The layouts tried, the fullest first: the byte counts go first, then
  // the rate, then the bar, then the time left.
  struct Layout {
    std::vector<std::string> figures;
    bool bar;
  };
  const Layout layouts[] = {
      {{percent, rateText, bytes, left}, true},
      {{percent, rateText, left}, true},
      {{percent, left}, true},
      {{percent, left}, false},
      {{percent}, true},
  };
  const std::vector<Glyph> glyphs = Glyphs(name);
  const int nameWidth = WidthOf(glyphs);
  for (const Layout &layout : layouts) {
    std::string figures;
    for (const std::string &figure : layout.figures)
      if (!figure.empty()) figures += "  " + figure;
    // name + "  [" + bar + "]" + figures
    const int room = columns - static_cast<int>(figures.size()) - (layout.bar ? 4 : 0);
    if (room < std::min(nameWidth, kMinName) + (layout.bar ? kMinBar : 0)) continue;
    if (!layout.bar) return Fit(glyphs, room) + figures;
    const int bar = std::clamp(room - nameWidth, kMinBar, kMaxBar);
    const int filled = static_cast<int>(static_cast<std::uint64_t>(bar) * shownDone / total);
    return Fit(glyphs, room - bar) + "  [" + std::string(filled, '#') + std::string(bar - filled, ' ') + "]" +
           figures;
  }
  // The narrowest terminals: what fits of the name and the percentage.
  const std::string figure = percent.substr(percent.find_first_not_of(' '));
  const int room = columns - static_cast<int>(figure.size()) - 1;
  if (room < 1) return figure.substr(0, columns > 0 ? static_cast<std::size_t>(columns) : 0);
  return Fit(glyphs, room) + " " + figure;
}

}  // namespace

Progress::Progress(const std::string &name, std::optional<std::uint64_t> total) : name_(name) {
  enabled_ = total && *total > kShownAbove && isatty(STDERR_FILENO);
  if (!enabled_) return;
  total_ = *total;
  start_ = Clock::now();
  Draw(start_);
}

Progress::~Progress() {
  // Erase the line so that messages after it start clean.
  if (enabled_) std::fprintf(stderr, "\r\033[K");
}

void Progress::Advance(std::uint64_t bytes) {
  done_ += bytes;
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now - drawn_ >= kRedrawInterval) Draw(now);
}

void Progress::Draw(Clock::time_point now) {
  drawn_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::optional<double> rate;
  if (seconds > 0 && done_ != 0) rate = static_cast<double>(done_) / seconds;
  const std::string line = Line(name_, done_, total_, rate, UsableColumns());
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
}

}  // namespace compatcrypt::cli
