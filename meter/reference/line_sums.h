// The sums of a straight line through points (x, y), kept about their
// running means (Welford's way: values far from zero lose nothing), for
// the small fits the tone meter makes on its way: the lines to either side
// of an alarm, a window's slope.
#pragma once

struct LineSums {
    double n = 0, x = 0, y = 0;  // the count and the means
    double xx = 0, xy = 0, yy = 0;  // the co-moments about the means

    void Add(double px, double py)
    {
        ++n;
        const double dx = px - x, dy = py - y;
        x += dx / n;
        y += dy / n;
        xx += dx * (px - x);
        xy += dx * (py - y);
        yy += dy * (py - y);
    }
    double Slope() const { return xx > 0 ? xy / xx : 0; }
    // The residuals' sum of squares about the line.
    double Squares() const { return yy - Slope() * xy; }
};
