// errm_conv.cpp - the conversion grammar checked at compile time: where the
// C library ends a conversion, and what the guard and the estimate make of
// it. The parser itself is constexpr, in errm_conv.h.
#include "base/errm_conv.h"

namespace {

struct Shape {
    std::string_view format; // a format starting with its conversion
    std::size_t length;      // characters the conversion spans
    char conversion;         // its conversion character
};

// What the C library reads at the start of each format: it prints an
// unknown conversion as written and goes on after it.
constexpr Shape kShapes[] = {
    {"%d", 2, 'd'},        {"%Zn", 3, 'n'},   {"%qn", 3, 'n'},
    {"%Ln", 3, 'n'},       {"%1$n", 4, 'n'},  {"%*2$.*3$hhn", 11, 'n'},
    {"%'I-+ #0n", 9, 'n'}, {"%w32n", 5, 'n'}, {"%wf8n", 5, 'n'},
    {"%wn", 2, 'w'},       {"%0$d", 3, '$'},  {"%*5d", 3, '5'},
    {"%.*5d", 4, '5'},     {"%hhhd", 4, 'h'}, {"%lld", 4, 'd'},
    {"%5%", 3, '%'},       {"% %", 3, '%'},   {"%.d", 3, 'd'},
    {"%05$d", 5, 'd'},     {"%", 1, '\0'},    {"%-08.3l", 7, '\0'},
    {"%I64x", 5, 'x'},     {"%lL", 3, 'L'},   {"%99999999999$d", 14, 'd'},
};

constexpr bool shapesHold() {
    for (const Shape &s : kShapes) {
        const errm_Conv c = errm_ConvParse(s.format, 0);
        if (c.length != s.length || c.conversion != s.conversion) return false;
    }
    return true;
}
static_assert(shapesHold(), "conversions end where the C library ends them");

static_assert(errm_ConvParse("%99999999999$d", 0).overflow);
static_assert(errm_ConvParse("%*2$.*3$d", 0).width.from == errm_ConvFrom::StarAt);
static_assert(errm_ConvIsBare(errm_ConvParse("%s", 0)) &&
              !errm_ConvIsBare(errm_ConvParse("%l", 0)));
static_assert(errm_ConvParse("%05$d", 0).position == 5 && errm_ConvParse("%05$d", 0).flags == 0);

// The guard sees every spelling of %n, and only conversions.
static_assert(errm_ConvHoldsCount("count%Zn") && errm_ConvHoldsCount("%d%1$n"));
static_assert(errm_ConvHoldsCount("%-08.3ln") && errm_ConvHoldsCount("a%%%n"));
static_assert(!errm_ConvHoldsCount("100%%n") && !errm_ConvHoldsCount("%5%n"));
static_assert(!errm_ConvHoldsCount("% %n") && !errm_ConvHoldsCount("%"));

// Each '%' counts 128, each other character 1.
static_assert(errm_ConvEstimate("") == 0 && errm_ConvEstimate("%") == 128);
static_assert(errm_ConvEstimate("%%") == 256 && errm_ConvEstimate("a%5%b") == 259);
static_assert(errm_ConvEstimate("%d") == 129 && errm_ConvEstimate("%l%%") == 385);

} // namespace
