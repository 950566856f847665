// How soundclock writes figures for people, and JSON for scripts.
#include "soundclock/json_writer.h"
#include "soundclock/text_format.h"
#include "soundclock/usage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// Two significant digits of the uncertainty, the figure to the same place;
// an uncertainty never reads as none.
TEST(TextFormat, FigureWithTwoSignificantDigitsOfItsUncertainty)
{
    const struct {
        double value, uncertainty;
        const char* text;
    } cases[] = {
        {1000.0000123, 0.000031, "+1000.000012 ppm +- 0.000031 ppm"},
        {46.255, 0.08, "+46.255 ppm +- 0.080 ppm"},
        {46.255, 0.0995, "+46.26 ppm +- 0.10 ppm"},  // rounds up to two digits of the next power
        {-296.4, 755, "-296 ppm +- 760 ppm"},
        {2.0, 27, "+2 ppm +- 27 ppm"},
        {0.0, 3.3, "+0.0 ppm +- 3.3 ppm"},
        {-1e-9, 1e-12, "+0.000000 ppm +- 0.000001 ppm"},  // below the last place: never "0", and no "-0"
        {5.0, 0, "+5.000000 ppm +- 0.000001 ppm"},
        {5.0, std::numeric_limits<double>::quiet_NaN(), "+5.000000 ppm +- 0.000001 ppm"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FigureText(c.value, c.uncertainty, "ppm"), c.text) << c.value << " +- " << c.uncertainty;
}

TEST(JsonWriter, EscapesWhatJsonRequiresAndWritesNullForWhatIsNotANumber)
{
    const std::string text = JsonObject()
                                 .String("error", "the device \"hw:0\" failed:\n\tbusy\\\x01")
                                 .Number("ppm", -0.0000004, 6)
                                 .Number("bad", std::nan(""), 6)
                                 .Array("jumps", {JsonObject().Integer("n", 3)})
                                 .Text();
    EXPECT_EQ(text, "{\"error\":\"the device \\\"hw:0\\\" failed:\\n\\tbusy\\\\\\u0001\",\"ppm\":0.000000,"
                    "\"bad\":null,\"jumps\":[{\"n\":3}]}");
}

// Each command's help is headed by its own lines of the one synopsis.
TEST(Usage, EachCommandHasItsLinesOfTheSynopsis)
{
    for (const char* command : {"signal", "measure", "loop", "rate", "devices"}) {
        const std::string lines = CommandUsage(command);
        EXPECT_EQ(lines.rfind(std::string("Usage: soundclock ") + command, 0), 0u) << command;
        EXPECT_NE(UsageText().find(lines.substr(7, lines.find('\n') - 7)), std::string::npos) << command;
    }
    EXPECT_NE(CommandUsage("measure").find("measure --device D"), std::string::npos);
    EXPECT_EQ(CommandUsage("measure").find("loop"), std::string::npos);
    EXPECT_EQ(ExitStatusText().rfind("Exit status: 0", 0), 0u);
}

}  // namespace
