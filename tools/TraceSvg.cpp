#include "tools/TraceSvg.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "tools/AccessReport.h"

namespace ccxsim {
namespace {

constexpr double kWidth = 1600;
constexpr double kPlotLeft = 250;
constexpr double kPlotRight = kWidth - 30;
constexpr double kLaneHeight = 24;
constexpr double kApRowHeight = 20;
constexpr double kFontSize = 12;
// A generous average advance of the label font, so that a label judged to fit does fit.
constexpr double kCharWidth = 7.4;
const char *const kFont = "DejaVu Sans, Verdana, Arial, sans-serif";

// Phases take turns through these; nested slices take their category's colour.
const char *const kPhaseColours[] = {"#8fb8de", "#a8d5a2", "#f4c27a", "#d7a9e3", "#f2a0a0", "#9fd8d2", "#e3d48c"};

const char *CategoryColour(const std::string &Category) {
  if (Category == "notify") return "#f08a4b";
  if (Category == "mp") return "#5b8fd0";
  if (Category == "service") return "#b07cc6";
  return "#6fb06a";  // AP procedures
}

std::string Escaped(const std::string &Text) {
  std::string Result;
  for (char Each : Text) {
    switch (Each) {
      case '&': Result += "&amp;"; break;
      case '<': Result += "&lt;"; break;
      case '>': Result += "&gt;"; break;
      case '"': Result += "&quot;"; break;
      default: Result += Each;
    }
  }
  return Result;
}

// The label as much of it fits in Width, with an ellipsis where it was cut; empty when too little would show.
std::string Fitted(const std::string &Label, double Width) {
  const size_t Fits = Width > 6 ? static_cast<size_t>((Width - 6) / kCharWidth) : 0;
  if (Label.size() <= Fits) return Label;
  if (Fits < 4) return "";
  return Label.substr(0, Fits - 1) + "\u2026";
}

std::string Number(double Value) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%.2f", Value);
  return Text;
}

// A tick's value in microseconds with its thousands set apart: "150,000", "2.5".
std::string Grouped(double Microseconds) {
  char Text[48];
  std::snprintf(Text, sizeof(Text), "%.10g", Microseconds);
  std::string Digits = Text;
  const size_t Point = Digits.find('.');
  for (size_t At = Point == std::string::npos ? Digits.size() : Point; At > 3; At -= 3) Digits.insert(At - 3, ",");
  return Digits;
}

// A step of 1, 2 or 5 times a power of ten that cuts the span into about eight parts.
double TickStep(double Span) {
  const double Rough = Span / 8;
  const double Power = std::pow(10.0, std::floor(std::log10(Rough)));
  for (double Factor : {1.0, 2.0, 5.0}) {
    if (Factor * Power >= Rough) return Factor * Power;
  }
  return 10 * Power;
}

// "socket 0 die 0 complex die 3 complex 1" as "0.0.3.1".
std::string ComplexNumbers(const std::string &Described) {
  std::istringstream Words(Described);
  std::string Word;
  std::string Result;
  while (Words >> Word) {
    if (std::isdigit(static_cast<unsigned char>(Word[0]))) Result += (Result.empty() ? "" : ".") + Word;
  }
  return Result;
}

class Canvas {
 public:
  explicit Canvas(double NanosecondsAcross) : Scale_((kPlotRight - kPlotLeft) / std::max(NanosecondsAcross, 1.0)) {}

  double X(double Nanoseconds) const { return kPlotLeft + Nanoseconds * Scale_; }
  double Width(double Nanoseconds) const { return Nanoseconds * Scale_; }

  void Text(double Left, double Baseline, const std::string &What, double Size = kFontSize, const char *Extra = "") {
    Out_ << "<text x=\"" << Number(Left) << "\" y=\"" << Number(Baseline) << "\" font-size=\"" << Size << "\"" << Extra
         << ">" << Escaped(What) << "</text>\n";
  }

  // A bar with its label inside when it fits and the whole story in its tooltip.
  void Bar(const TraceSlice &Slice, double Top, double Height, const char *Fill, const std::string &Tip,
           const std::string &Class = "slice") {
    const double Left = X(Slice.Begin);
    const double Across = Width(Slice.Duration);
    // The name and the exact duration ride along for whoever reads the picture back.
    Out_ << "<g><title>" << Escaped(Tip) << "</title><rect class=\"" << Class << "\" data-name=\""
         << Escaped(Slice.Name) << "\" data-ns=\"" << Number(Slice.Duration) << "\" x=\"" << Number(Left)
         << "\" y=\"" << Number(Top) << "\" width=\"" << Number(Across) << "\" height=\"" << Number(Height)
         << "\" fill=\"" << Fill << "\" stroke=\"#ffffff\" stroke-width=\"0.5\"/>";
    const std::string Label = Fitted(Slice.Name, Across);
    if (!Label.empty()) {
      Out_ << "<text x=\"" << Number(Left + 3) << "\" y=\"" << Number(Top + Height / 2 + 4) << "\" font-size=\""
           << kFontSize << "\">" << Escaped(Label) << "</text>";
    }
    Out_ << "</g>\n";
  }

  void Raw(const std::string &Element) { Out_ << Element << "\n"; }
  // Drawn beneath everything else: the grid.
  void Beneath(const std::string &Element) { Back_ << Element << "\n"; }
  std::string Body() const { return Back_.str() + Out_.str(); }

 private:
  double Scale_;
  std::ostringstream Back_;
  std::ostringstream Out_;
};

std::string Tooltip(const TraceSlice &Slice, const std::string &Extra = "") {
  std::string Tip = Slice.Name + ": " + DurationText(Slice.Duration) + Extra;
  for (size_t Index = 0; Index < sim::kCountedAccessKinds; Index++) {
    const uint64_t Count = Slice.Counts.Bsp[Index] + Slice.Counts.Ap[Index];
    if (Count == 0) continue;
    Tip += "\n" + std::string(sim::CountedAccessLabel(sim::CountedAccess(Index))) + " " + std::to_string(Count);
  }
  return Tip;
}

// Draws one boot's panel from Top and returns the height it took.
double DrawBoot(Canvas &Draw, const BootTrace &Boot, double Top, double Span) {
  double Y = Top;
  Draw.Text(10, Y + 18, Boot.Title + ": " + DurationText(Boot.Total) + " estimated on hardware", 15,
            " font-weight=\"bold\"");
  Y += 30;
  // The axis, with a grid line per tick down the panel drawn once the panel's height is known.
  const double Step = TickStep(Span / 1000.0);
  std::vector<double> Ticks;
  for (size_t Count = 0; Count * Step <= Span / 1000.0 * (1 + 1e-12); Count++) Ticks.push_back(Count * Step);
  for (double Tick : Ticks) {
    Draw.Text(Draw.X(Tick * 1000), Y + 12, Grouped(Tick), 11, " fill=\"#444444\" text-anchor=\"middle\"");
  }
  Draw.Text(10, Y + 12, "estimated time (\u00b5s)", 11, " fill=\"#444444\"");
  Y += 20;
  const double GridTop = Y;

  // The BSP: phases in the first lane, what ran inside them in the lanes below.
  const TraceTrack &Bsp = Boot.Tracks.front();
  size_t Lanes = 1;
  for (const TraceSlice &Slice : Bsp.Slices) Lanes = std::max(Lanes, Slice.Depth + 1);
  Draw.Text(10, Y + 16, "BSP: phases", kFontSize, " font-weight=\"bold\"");
  if (Lanes > 1) Draw.Text(10, Y + kLaneHeight + 16, "BSP: inside the phases", kFontSize);
  size_t Phase = 0;
  for (const TraceSlice &Slice : Bsp.Slices) {
    const bool IsPhase = Slice.Depth == 0;
    const char *Fill = IsPhase ? kPhaseColours[Phase++ % std::size(kPhaseColours)] : CategoryColour(Slice.Category);
    Draw.Bar(Slice, Y + Slice.Depth * kLaneHeight, kLaneHeight - 2, Fill, Tooltip(Slice), IsPhase ? "phase" : "slice");
  }
  Y += Lanes * kLaneHeight + 6;

  // The APs: a row each, or a row per complex on a big machine, with each start's procedures
  // drawn as one bar as long as the longest of them.
  const bool Folded = Boot.ProcessorCount > kMostApRows;
  std::map<std::string, std::vector<const TraceTrack *>> Rows;
  std::vector<std::string> Order;
  for (size_t Index = 1; Index < Boot.Tracks.size(); Index++) {
    const TraceTrack &Track = Boot.Tracks[Index];
    const std::string Key = Folded ? Track.Complex : Track.Name;
    if (Rows[Key].empty()) Order.push_back(Key);
    Rows[Key].push_back(&Track);
  }
  for (const std::string &Key : Order) {
    const std::vector<const TraceTrack *> &Tracks = Rows[Key];
    const std::string Label =
        Folded ? "complex " + ComplexNumbers(Key) + " \u00b7 " + std::to_string(Tracks.size()) + " APs" : Key;
    Draw.Text(10, Y + 14, Label, kFontSize, Folded ? " class=\"ap-row folded\"" : " class=\"ap-row\"");
    // By start: the span from the first of its procedures here to the last, and how many ran.
    std::map<size_t, std::pair<TraceSlice, size_t>> Starts;
    for (const TraceTrack *Track : Tracks) {
      for (const TraceSlice &Slice : Track->Slices) {
        auto [It, New] = Starts.emplace(Slice.Start, std::make_pair(Slice, 0));
        TraceSlice &Spanned = It->second.first;
        if (!New) {
          const double End = std::max(Spanned.End(), Slice.End());
          Spanned.Begin = std::min(Spanned.Begin, Slice.Begin);
          Spanned.Duration = End - Spanned.Begin;
          Spanned.Counts += Slice.Counts;
        }
        It->second.second++;
      }
    }
    for (const auto &[Start, Folding] : Starts) {
      const std::string Extra = Folding.second > 1 ? " (" + std::to_string(Folding.second) + " procedures)" : "";
      Draw.Bar(Folding.first, Y, kApRowHeight - 2, CategoryColour("procedure"), Tooltip(Folding.first, Extra));
    }
    Y += kApRowHeight;
  }
  for (double Tick : Ticks) {
    Draw.Beneath("<line x1=\"" + Number(Draw.X(Tick * 1000)) + "\" y1=\"" + Number(GridTop) + "\" x2=\"" +
                 Number(Draw.X(Tick * 1000)) + "\" y2=\"" + Number(Y) + "\" stroke=\"#d0d0d0\" stroke-width=\"1\"/>");
  }
  return Y - Top + 16;
}

}  // namespace

std::string TraceSvg(const std::vector<BootTrace> &Boots, const std::string &Machine) {
  double Span = 1;
  for (const BootTrace &Boot : Boots) Span = std::max(Span, Boot.Total);
  Canvas Draw(Span);
  double Y = 10;
  for (const BootTrace &Boot : Boots) Y += DrawBoot(Draw, Boot, Y, Span);

  // The legend.
  double Left = 10;
  const std::pair<const char *, const char *> kLegend[] = {{"phase", kPhaseColours[0]},
                                                           {"notify function", CategoryColour("notify")},
                                                           {"MP services start", CategoryColour("mp")},
                                                           {"service call", CategoryColour("service")},
                                                           {"AP procedure", CategoryColour("procedure")}};
  for (const auto &[Name, Fill] : kLegend) {
    Draw.Raw("<rect x=\"" + Number(Left) + "\" y=\"" + Number(Y) + "\" width=\"14\" height=\"14\" fill=\"" + Fill +
             "\"/>");
    Draw.Text(Left + 20, Y + 12, Name);
    Left += 40 + std::string(Name).size() * kCharWidth;
  }
  Draw.Text(Left + 20, Y + 12, "machine " + Machine + "; times are the cost model's estimate", kFontSize,
            " fill=\"#444444\"");
  Y += 30;

  std::ostringstream Svg;
  Svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << Number(Y)
      << "\" viewBox=\"0 0 " << kWidth << " " << Number(Y) << "\" font-family=\"" << kFont << "\" fill=\"#1b1b1b\">\n"
      << "<rect x=\"0\" y=\"0\" width=\"" << kWidth << "\" height=\"" << Number(Y) << "\" fill=\"#ffffff\"/>\n"
      << Draw.Body() << "</svg>\n";
  return Svg.str();
}

}  // namespace ccxsim
