#pragma once
// Which outline's edge a step between two nested sheets is: a sheet's own, a shadow's, or the
// border of something printed on the sheet. In working pixels.

#include "scan/page_search.h"

#include <optional>
#include <utility>

namespace vellumora::scan {

// Whether a side of `inner` that crosses the inside of `outer` is the edge of a shadow, not of a
// sheet, and what shows it: the drawing's lines run on across it (the paper goes on, however deep
// the shade), it goes on beyond `inner`'s corners as the same step, or it steps far more softly
// than the sides the two share.
enum class ShadowEdge { none, soft, goesOn, linesRunOn };
ShadowEdge shadowEdgeInside(const WorkingImage& image, const Corners& outer, const Corners& inner);

// Whether lines drawn on the paper run on across the side from a to b (the paper on its right,
// going from a to b with y downwards), at least two of them: a shadow's edge darkens the
// drawing with the paper, a sheet's edge ends it. Lines too thin to show at the working size are
// looked for in the image's detail.
bool linesRunAcross(const WorkingImage& image, cv::Point2d a, cv::Point2d b);

// Whether a side of `inner` that crosses the inside of `outer` is a sheet's own edge: the paper
// steps down across it along at least `clearAs` of its length, as sharply as across the sides the
// two share, and the step ends at `inner`'s corners instead of going on over the desk as a
// shadow's would. What `outer` takes in past it is then another surface, however pale. Where the
// frame hides what lies past both corners, the step is the sheet's own edge only when so asked
// and no drawn line runs on across it.
enum class EndsOutOfView { unknown, ownEdgeUnlessLinesCross };
bool ownEdgeInside(const WorkingImage& image, const Corners& outer, const Corners& inner, const Judgement& j,
                   double clearAs, EndsOutOfView endsOutOfView = EndsOutOfView::unknown);

// Whether the sides of `outer` that run on past `inner`'s corners, where that can be seen, step
// there along no more than half their length: a strip of desk taken in beside the sheet, not the
// sheet going on into shade, whose edges step in shade too.
bool sidesGoOnOverDesk(const WorkingImage& image, const Corners& outer, const Corners& inner);

// Whether past a side of `inner` that crosses the inside of `outer`, along nearly all of it, the
// paper steps down and then comes back as bright before `outer`'s edge: a block printed or drawn
// on the sheet, a photo or a column of text, not the sheet's own edge with a desk beyond.
bool paperPastEdge(const cv::Mat& paper, const Corners& outer, const Corners& inner, double level);

// The part of the side from a to b that lies more than `depth` inside the outline `c`, from where
// it enters to where it leaves, as shares of the side's length; none when no part does.
std::optional<std::pair<double, double>> partInside(const Corners& c, cv::Point2d a, cv::Point2d b, double depth);

// Whether a side of `outer` within the frame runs across the inside of the sheet `inner` as a
// step down: a sheet's own edge cannot cross another sheet lying in view, so that side is the
// edge of a shadow or of a patch of light, and `outer` is the lit desk around it.
bool lightEdgeAcross(const WorkingImage& image, const Corners& outer, const Corners& inner);

}  // namespace vellumora::scan
