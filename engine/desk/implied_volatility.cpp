// Black's formula and its inverse on the normalised price b(x, s) = price / sqrt(F K), with
// x = ln(F/K) and s the total volatility.
//
// The price. Only the out-of-the-money side x <= 0 is evaluated; the other follows from parity,
// b(x, s) = 2 sinh(x/2) + b(-x, s). With h = x/s, t = s/2 and the Mills ratio
// M(u) = N(-u)/phi(u), the price is b = phi(0) e^(-(h^2 + t^2)/2) (Y(h + t) - Y(h - t)) with
// Y(z) = M(-z), a difference of two positive numbers that is evaluated in one of four ways:
//   h + t <= -10            the asymptotic series of M, subtracted term by term, so that no term
//                           cancels (far out of the money);
//   t < 0.21                the Taylor series of Y(h + t) - Y(h - t) in t (small s near the
//                           money), whose coefficients are polynomials in h^2 and Y'(h);
//   h + t <= 0              M(-(h + t)) - M(t - h) directly (the two differ by a factor of at
//                           least about 1 + 2t/|h|);
//   otherwise               e^(x/2) minus the positive complement
//                           phi(0) e^(-(h^2 + t^2)/2) (M(h + t) + M(t - h)).
// Each loses at most a small factor over the accuracy of M, except that the relative error grows
// like (1 + h^2) eps far out of the money, which is the price's own condition number in x.
//
// The Mills ratio M(u), u >= 0, is a piecewise polynomial: sixteen pieces of degree 12 on
// [0, 8) and one of degree 11 in 64/u^2 for u * M(u) beyond, Chebyshev interpolants of
// M(u) = sqrt(pi/2) erfcx(u / sqrt(2)) computed in 50-digit arithmetic; its relative error is
// below 2e-16 everywhere.
//
// The inverse. b is log-concave in s (it is the integral from 0 to s of the log-concave vega
// phi(0) exp(-x^2/(2 u^2) - u^2/8)), and so is its complement e^(x/2) - b, so Newton's method on
// ln b - ln(target) (for prices up to half the maximum) or on ln(e^(x/2) - b) - ln(room) (above)
// converges from any start kept inside the bracket. The iteration is Householder's of third
// order on that logarithm, from a start given by the asymptotic forms of b, with a bracket and
// a bisection fallback; the log-derivative of b is 1/(Y(h + t) - Y(h - t)), and the higher ones
// follow from that of the vega, x^2/s^3 - s/4, so that each step costs one evaluation of b.
#include "engine/desk/implied_volatility.h"

#include <cmath>
#include <limits>

namespace empricer {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kInvSqrtTwoPi = 0.398942280401432677939946059934381868;
constexpr double kLnInvSqrtTwoPi = -0.918938533204672741780329736405617640;
// Below this t the Taylor series in t is used (its first omitted term, of order t^17, is below
// 1e-18 of the sum there).
constexpr double kSmallT = 0.21;
// From this u = -(h + t) on, the asymptotic series (its smallest term is then below 1e-20).
constexpr double kAsymptoticU = 10.0;

// Mills ratio pieces on [i/2, i/2 + 1/2), i = 0..15, in tau = 4u - 2i - 1, highest power first.
constexpr double kMillsPieces[16][13] = {
    {6.890810052211301e-13, -1.0116581803524717e-11, 1.404798626755617e-10, -1.8950772316292926e-09,
     2.43739066170313e-08, -2.9729153247149876e-07, 3.4171505729719868e-06, -3.671378984423109e-05,
     0.0003647602450776893, -0.0033018634351914943, 0.026646519120143264, -0.18513596400914192,
     1.0378245758537268},
    {1.3201688502661405e-13, -2.0818003408043584e-12, 3.12136586247169e-11, -4.5540274586994443e-10,
     6.360804769887788e-09, -8.466514926235199e-08, 1.0681782491800597e-06, -1.2687029253639786e-05,
     0.00014060619973226237, -0.0014367809399485226, 0.01330913960270547, -0.10889290392561096,
     0.7525711790634081},
    {2.8224722858334024e-14, -4.777250878368768e-13, 7.725402767151748e-12, -1.2178110183609343e-10,
     1.8450612143078762e-09, -2.67627311427677e-08, 3.6998144340614867e-07, -4.847332663452792e-06,
     5.975488189613166e-05, -0.000686561022648852, 0.007257117554595457, -0.06924051686011529,
     0.5784303460476311},
    {6.677402709664926e-15, -1.2118502834309201e-13, 2.1105949410511625e-12, -3.58980353856583e-11,
     5.890037155686225e-10, -9.292552420614896e-09, 1.4044033062526597e-07, -2.023848087822124e-06,
     2.7649208357830534e-05, -0.00035545230555092573, 0.0042577154737573055, -0.04686571898274405,
     0.4643069280394422},
    {1.7340142150771673e-15, -3.369939703021918e-14, 6.31032059024828e-13, -1.1560631197829721e-11,
     2.050167489621548e-10, -3.5099325085884853e-09, 5.7831533212850305e-08, -9.13596216139385e-07,
     1.3774193134533935e-05, -0.00019705543550690071, 0.0026550472801721847, -0.03335408642588052,
     0.3851482907984346},
    {4.905017982995858e-16, -1.0192376623330626e-14, 2.048084939016753e-13, -4.033561599312945e-12,
     7.714025395233305e-11, -1.4293891521534838e-09, 2.5597232231768992e-08,
     -4.4166113329693897e-07, 7.315606760768516e-06, -0.00011580456503351976, 0.001742049048057874,
     -0.02472115865024546, 0.32767831469055203},
    {1.500569942452836e-16, -3.3282662381033487e-15, 7.162046670111192e-14, -1.5130530452113862e-12,
     3.1129499499877996e-11, -6.225670055905266e-10, 1.2077946709823639e-08,
     -2.2674081004639515e-07, 4.107113414826862e-06, -7.153173919683732e-05, 0.001192767868107795,
     -0.0189395057668495, 0.28438214674849294},
    {4.9318145776723135e-17, -1.1654735714059173e-15, 2.6799563353510098e-14, -6.05946206525601e-13,
     1.337730194084331e-11, -2.879169799429459e-10, 6.0310492468419315e-09, -1.2271243989765714e-07,
     2.4196673261891685e-06, -4.611200508476646e-05, 0.0008465387851476005, -0.014911458021282787,
     0.250761111443965},
    {1.7307174345895043e-17, -4.3493775763525955e-16, 1.0663371796529242e-14,
     -2.5743942293225555e-13, 6.082673236027944e-12, -1.404771176205613e-10, 3.1666931376511163e-09,
     -6.956722032892695e-08, 1.4866452868162067e-06, -3.0838347502228136e-05, 0.0006193972058941143,
     -0.012009993180306891, 0.2239905946538288},
    {6.4487127527894674e-18, -1.7200127290509704e-16, 4.486116142338025e-15,
     -1.1537238048921237e-13, 2.909877766472518e-12, -7.190143948588889e-11, 1.7385916906406995e-09,
     -4.1086203279669974e-08, 9.47542664619036e-07, -2.1290206890148806e-05, 0.0004651566614484452,
     -0.009859906498247601, 0.20222323663305466},
    {2.538180339499401e-18, -7.17110548154989e-17, 1.9853298001574727e-15, -5.426244863990618e-14,
     1.4571737105683035e-12, -3.84144922961272e-11, 9.93222567695802e-10, -2.516009703462061e-08,
     6.237114042273576e-07, -1.5110747251549193e-05, 0.0003572432221530838, -0.00822742353328912,
     0.1842076773079702},
    {1.0504002043293413e-18, -3.137449645296974e-17, 9.19993942878903e-16, -2.6661930953531138e-14,
     7.604274163354243e-13, -2.1329168923907546e-11, 5.879055922447857e-10, -1.5910695531639298e-08,
     4.2238493408384727e-07, -1.0987709126461603e-05, 0.000279749945689983, -0.006961658788939766,
     0.16907015040769408},
    {4.551364998785676e-19, -1.4344648520172953e-17, 4.4456910447323015e-16,
     -1.3630728952790915e-14, 4.119010148373743e-13, -1.2260358681886519e-11,
     3.5923229594016986e-10, -1.0353967566982966e-08, 2.933354895851139e-07, -8.161704644987294e-06,
     0.00022281608745812964, -0.005962164009412631, 0.15618421503397592},
    {2.0569851402061421e-19, -6.828018234491414e-18, 2.2320083630356336e-16, -7.224649990394115e-15,
     2.3077847232677883e-13, -7.271371934703249e-12, 2.258666862356096e-10, -6.912794183376129e-09,
     2.0832864482990384e-07, -6.177896945077842e-06, 0.00018013625078621556, -0.005160217824591556,
     0.14509024128913092},
    {9.663455757942088e-20, -3.3722973389977962e-18, 1.1604438717986378e-16,
     -3.9572444036177015e-15, 1.333275622529481e-13, -4.43634410216184e-12, 1.4571990671350433e-10,
     -4.722747833385862e-09, 1.5094879821274812e-07, -4.75533497484072e-06, 0.00014756543735599674,
     -0.00450765376211626, 0.13544405309676344},
    {4.704363913100238e-20, -1.7229293171736786e-18, 6.22938368584639e-17, -2.2336169405194877e-15,
     7.920932131554617e-14, -2.7771305442853466e-12, 9.622983989453404e-11, -3.294163657343299e-09,
     1.1135713800754788e-07, -3.7156043708215203e-06, 0.00012231059232795018, -0.003969977371965889,
     0.12698323748543697},
};
// u * M(u) for u >= 8 in w = 64 / u^2, highest power first.
constexpr double kMillsTail[12] = {
    -3.1353586262136905e-11, 2.9830030064829436e-10, -1.5837513229264049e-09, 6.922968709449403e-09,
    -3.056334347083206e-08,  1.5120202344558918e-07, -8.800824031754867e-07,  6.25848471300947e-06,
    -5.722045867973552e-05,  0.0007324218749838598,  -0.015624999999999663,   1.0};

double horner(const double* c, int count, double x) {
  double r = c[0];
  for (int i = 1; i < count; ++i) r = r * x + c[i];
  return r;
}

// M(u) = N(-u) / phi(u) for u >= 0.
double millsRatio(double u) {
  if (u >= 0.0 && u < 8.0) {
    const int piece = static_cast<int>(u * 2.0);
    return horner(kMillsPieces[piece], 13, 4.0 * u - static_cast<double>(2 * piece + 1));
  }
  return horner(kMillsTail, 12, 64.0 / (u * u)) / u;
}

// Y(h + t) - Y(h - t) = M(u1) - M(u2), u1 = -(h + t) >= 10, u2 = t - h, by the asymptotic series
// M(u) ~ sum_k (-1)^k (2k-1)!! / u^(2k+1): term k of the difference is
// (-1)^k (2k-1)!! u1^-(2k+1) (1 - rho^(2k+1)), rho = u1/u2, and 1 - rho^n is built up by
// 1 - rho^(n+2) = (1 - rho^2) + rho^2 (1 - rho^n), a sum of positive numbers.
double asymptoticDifference(double h, double t) {
  const double u1 = -(h + t);
  const double u2 = t - h;
  if (!(u1 < 1e100)) return 2.0 * t / u2 / u1;  // the first term; the next is below 1e-200
  const double rho = u1 / u2;
  const double rho2 = rho * rho;
  double oneLess = 2.0 * t / u2;  // 1 - rho^n, n = 1
  const double oneLess2 = oneLess * (1.0 + rho);
  const double q = 1.0 / (u1 * u1);
  double factor = 1.0 / u1;  // (-1)^k (2k-1)!! / u1^(2k+1)
  double sum = factor * oneLess;
  for (int k = 1; k < 40; ++k) {
    factor *= -static_cast<double>(2 * k - 1) * q;
    oneLess = oneLess2 + rho2 * oneLess;
    const double term = factor * oneLess;
    sum += term;
    if (std::fabs(term) < 1e-17 * sum) break;
  }
  return sum;
}

// Y(h + t) - Y(h - t) for t < kSmallT and h + t > -kAsymptoticU by its Taylor series in t,
// 2 sum_k Y^(2k+1)(h) t^(2k+1) / (2k+1)!. With Y' = 1 + h Y (= a), every odd derivative is
// A_k(h^2) + B_k(h^2) a with integer polynomials A_k, B_k (from Y^(n) = P_n + Q_n Y,
// P_(n+1) = P_n' + Q_n, Q_(n+1) = Q_n' + h Q_n: A = P - Q/h, B = Q/h).
double smallTDifference(double h, double t) {
  const double a = 1.0 + h * millsRatio(-h);
  const double g = h * h;
  const double w = t * t;
  const double c1 = (-1.0 + a * (3.0 + g)) / 6.0;
  const double c2 = (-7.0 - g + a * (15.0 + g * (10.0 + g))) / 120.0;
  const double c3 = (-57.0 + g * (-18.0 - g) + a * (105.0 + g * (105.0 + g * (21.0 + g)))) / 5040.0;
  const double c4 = (-561.0 + g * (-285.0 + g * (-33.0 - g)) +
                     a * (945.0 + g * (1260.0 + g * (378.0 + g * (36.0 + g))))) /
                    362880.0;
  const double c5 = (-6555.0 + g * (-4680.0 + g * (-840.0 + g * (-52.0 - g))) +
                     a * (10395.0 + g * (17325.0 + g * (6930.0 + g * (990.0 + g * (55.0 + g)))))) /
                    39916800.0;
  const double c6 =
      (-89055.0 + g * (-82845.0 + g * (-20370.0 + g * (-1926.0 + g * (-75.0 - g)))) +
       a * (135135.0 +
            g * (270270.0 + g * (135135.0 + g * (25740.0 + g * (2145.0 + g * (78.0 + g))))))) /
      6227020800.0;
  const double c7 =
      (-1381905.0 +
       g * (-1595790.0 + g * (-501795.0 + g * (-64260.0 + g * (-3795.0 + g * (-102.0 - g))))) +
       a * (2027025.0 +
            g * (4729725.0 +
                 g * (2837835.0 +
                      g * (675675.0 + g * (75075.0 + g * (4095.0 + g * (105.0 + g)))))))) /
      1307674368000.0;
  return 2.0 * t * (a + w * (c1 + w * (c2 + w * (c3 + w * (c4 + w * (c5 + w * (c6 + w * c7)))))));
}

// Y(h + t) - Y(h - t) wherever h + t <= 0 or t < kSmallT; h <= 0, t > 0.
double scaledDifference(double h, double t) {
  const double u1 = -(h + t);
  if (u1 >= kAsymptoticU) return asymptoticDifference(h, t);
  if (t < kSmallT) return smallTDifference(h, t);
  return millsRatio(u1) - millsRatio(t - h);
}

bool usesComplement(double h, double t) { return h + t > 0.0 && t >= kSmallT; }

// b(x, s) for x <= 0 (the out-of-the-money call), 0 < s < inf.
double outOfTheMoney(double x, double s) {
  const double h = x / s;
  const double t = 0.5 * s;
  const double vega = kInvSqrtTwoPi * std::exp(-0.5 * (h * h + t * t));
  if (usesComplement(h, t)) {
    return std::exp(0.5 * x) - vega * (millsRatio(h + t) + millsRatio(t - h));
  }
  return vega * scaledDifference(h, t);
}

// ln(F/K), to a few units in the last place of the result also when F is close to K.
double logRatio(double forward, double strike) {
  const double ratio = forward / strike;
  if (ratio >= 0.5 && ratio <= 2.0) return std::log1p((forward - strike) / strike);
  if (std::isnormal(ratio) && ratio < kInfinity) return std::log(ratio);
  return std::log(forward) - std::log(strike);
}

// A positive number as m 2^k, kept apart so that the logarithm of a ratio of two tiny numbers
// loses nothing to the size of their own logarithms.
struct Scaled {
  double mantissa;
  int exponent;
};

Scaled scaled(double y) {
  int exponent = 0;
  const double mantissa = std::frexp(y, &exponent);
  return {mantissa, exponent};
}

// ln 2 = kLn2High + kLn2Low, kLn2High with 32 significant bits so that k kLn2High is exact.
constexpr double kLn2High = 0x1.62e42feep-1;
constexpr double kLn2Low = 1.9082149292705877e-10;

// ln(y / target) for y > 0.
double logOver(double y, const Scaled& target) {
  const Scaled v = scaled(y);
  const double k = static_cast<double>(v.exponent - target.exponent);
  return k * kLn2High + (k * kLn2Low + std::log(v.mantissa / target.mantissa));
}

// An objective at s: its value and its derivative in s.
struct Objective {
  double value;
  double slope;
};

// ln(b(x, s) / target) for x <= 0.
Objective lowerObjective(double x, double s, const Scaled& target) {
  const double h = x / s;
  const double t = 0.5 * s;
  const double e = 0.5 * (h * h + t * t);
  if (usesComplement(h, t)) {
    const double vega = kInvSqrtTwoPi * std::exp(-e);
    const double b = std::exp(0.5 * x) - vega * (millsRatio(h + t) + millsRatio(t - h));
    return {logOver(b, target), vega / b};
  }
  const double d = scaledDifference(h, t);
  return {logOver(kInvSqrtTwoPi * d, target) - e, 1.0 / d};
}

// ln((e^(x/2) - b(x, s)) / target) for x <= 0.
Objective upperObjective(double x, double s, const Scaled& target) {
  const double h = x / s;
  const double t = 0.5 * s;
  const double e = 0.5 * (h * h + t * t);
  if (h + t >= 0.0) {
    const double d = millsRatio(h + t) + millsRatio(t - h);
    return {logOver(kInvSqrtTwoPi * d, target) - e, -1.0 / d};
  }
  // Here b < e^(x/2) / 2, so the complement loses nothing.
  const double vega = kInvSqrtTwoPi * std::exp(-e);
  const double c = std::exp(0.5 * x) - vega * scaledDifference(h, t);
  return {logOver(c, target), -vega / c};
}

// Householder's third-order step for f = ln(g / target) with g' = +-vega, from f and
// f' = slope: with eta = vega'/vega = x^2/s^3 - s/4, f''/f' = eta - f' and
// f'''/f' = eta' + eta^2 - 3 eta f' + 2 f'^2.
double householderStep(double x, double s, const Objective& f) {
  const double x2 = x * x;
  const double s2 = s * s;
  const double eta = x2 / (s2 * s) - 0.25 * s;
  const double etaPrime = -3.0 * x2 / (s2 * s2) - 0.25;
  const double nu = f.slope;
  const double newton = -f.value / nu;
  const double halley = eta - nu;
  const double third = etaPrime + eta * eta - 3.0 * eta * nu + 2.0 * nu * nu;
  return newton * (1.0 + 0.5 * halley * newton) / (1.0 + newton * (halley + third * newton / 6.0));
}

// Where b(x, s) = e^lnTarget: the s of the asymptotic form b ~ phi(0) s a(h) e^(-h^2/2), with
// a(h) = 1/(1 + 0.8|h| + h^2) (within 8% of Y'(h)), solved for |h| by two steps of Newton's
// method in ln|h| from the right of the root, where they converge monotonically.
double lowerStart(double x, double lnTarget) {
  if (x == 0.0) return std::exp(lnTarget) / kInvSqrtTwoPi;
  const double a = std::log(-x * kInvSqrtTwoPi) - lnTarget;  // H^2/2 + ln H - ln a(H) = a
  double lambda = a > 0.0 ? std::fmin(a, 0.5 * std::log(2.0 * a)) : a;
  for (int i = 0; i < 2; ++i) {
    const double hh = std::exp(lambda);
    const double h2 = hh * hh;
    const double poly = 1.0 + 0.8 * hh + h2;
    const double g = 0.5 * h2 + lambda + std::log(poly) - a;
    const double gp = h2 + 1.0 + (0.8 * hh + 2.0 * h2) / poly;
    lambda -= g / gp;
  }
  return -x / std::exp(lambda);
}

// Where e^(x/2) - b(x, s) = e^lnTarget: the s that gives it at x = 0, 2 N(-s/2) = e^lnTarget,
// with M(t) ~ 2 / (t + sqrt(t^2 + 8/pi)), by two steps of Newton's method.
double upperStart(double lnTarget) {
  const double l = std::log(2.0 * kInvSqrtTwoPi) - lnTarget;  // t^2/2 - ln M(t) = l
  double t = std::sqrt(2.0 * std::fmax(l, 0.1));
  for (int i = 0; i < 2; ++i) {
    const double r = std::sqrt(t * t + 8.0 / 3.14159265358979323846);
    const double g = 0.5 * t * t + std::log(0.5 * (t + r)) - l;
    const double gp = t + 1.0 / r;
    t -= g / gp;
  }
  return 2.0 * t;
}

// A step that changes s by less than this share is the last: the error after it is of the
// order of its fourth power.
constexpr double kLastStep = 1e-7;
constexpr int kMaxSteps = 100;

// The root of the lower (increasing) or the upper (decreasing) objective, from s.
double solve(double x, bool upper, const Scaled& target, double s) {
  double lo = 0.0;        // below the root
  double hi = kInfinity;  // above it
  for (int i = 0; i < kMaxSteps; ++i) {
    const Objective f = upper ? upperObjective(x, s, target) : lowerObjective(x, s, target);
    if (f.value == 0.0) return s;
    double next = kNaN;
    if (std::isfinite(f.value) && std::isfinite(f.slope)) {
      const bool below = upper ? f.value > 0.0 : f.value < 0.0;
      (below ? lo : hi) = s;
      const double step = householderStep(x, s, f);
      if (std::fabs(step) <= kLastStep * s) return s + step;
      next = s + step;
      if (!(next > lo && next < hi)) next = s - f.value / f.slope;
    } else {
      // b (lower) or its complement (upper) is below the least double: s is far too small
      // (lower) or far too large (upper).
      (upper ? hi : lo) = s;
    }
    if (!(next > lo && next < hi)) {
      if (hi == kInfinity) {
        next = 2.0 * s;
      } else {
        next = lo > 0.0 ? std::sqrt(lo * hi) : 0.5 * hi;
      }
    }
    s = next;
  }
  return s;
}

}  // namespace

double normalisedBlack(double x, double s) {
  if (std::isnan(x) || !(s >= 0.0)) return kNaN;
  const double intrinsic = x > 0.0 ? 2.0 * std::sinh(0.5 * x) : 0.0;
  const double xo = -std::fabs(x);
  if (s == 0.0 || xo == -kInfinity) return intrinsic;
  if (s == kInfinity) return intrinsic + std::exp(0.5 * xo);
  return intrinsic + outOfTheMoney(xo, s);
}

double blackPrice(double forward, double strike, double totalVolatility, bool isCall) {
  if (!(forward > 0.0 && forward < kInfinity && strike > 0.0 && strike < kInfinity) ||
      !(totalVolatility >= 0.0)) {
    return kNaN;
  }
  if (totalVolatility == kInfinity) return isCall ? forward : strike;
  const double intrinsic =
      isCall ? std::fmax(forward - strike, 0.0) : std::fmax(strike - forward, 0.0);
  if (totalVolatility == 0.0) return intrinsic;
  const double x = -std::fabs(logRatio(forward, strike));
  const double scale = std::sqrt(forward) * std::sqrt(strike);
  double value = scale * outOfTheMoney(x, totalVolatility);
  const double h = x / totalVolatility;
  const double t = 0.5 * totalVolatility;
  if (value < 0x1p-960 && scale > 1.0 && !usesComplement(h, t)) {
    // b may be below the least normal double, and so have lost digits, where the price is not.
    value =
        std::exp(std::log(scale * kInvSqrtTwoPi * scaledDifference(h, t)) - 0.5 * (h * h + t * t));
  }
  // Never past the bound: at a large |x| the rounding of e^(x/2) could carry it there.
  return std::fmin(intrinsic + std::fmin(value, std::fmin(forward, strike)),
                   isCall ? forward : strike);
}

double impliedTotalVolatility(double price, double forward, double strike, bool isCall) {
  if (!(forward > 0.0 && forward < kInfinity && strike > 0.0 && strike < kInfinity) ||
      std::isnan(price)) {
    return kNaN;
  }
  const double intrinsic =
      isCall ? std::fmax(forward - strike, 0.0) : std::fmax(strike - forward, 0.0);
  const double ceiling = isCall ? forward : strike;
  if (!(price > intrinsic && price < ceiling)) return kNaN;
  // The out-of-the-money value, or its room below its ceiling e^(x/2) when that is the smaller,
  // in units of sqrt(F K).
  const double x = -std::fabs(logRatio(forward, strike));
  const double value = price - intrinsic;
  const double room = ceiling - price;
  const bool upper = value > room;
  const Scaled v = scaled(upper ? room : value);
  const Scaled scale = scaled(std::sqrt(forward) * std::sqrt(strike));
  const Scaled target{v.mantissa / scale.mantissa, v.exponent - scale.exponent};
  const double lnTarget =
      std::log(target.mantissa) + static_cast<double>(target.exponent) * 0.693147180559945309417;
  if (upper) return solve(x, true, target, upperStart(lnTarget));
  const double start = lowerStart(x, lnTarget);
  // At the money b = phi(0) s (1 - s^2/24 + ...): below 1e-100 the start is the root (and may
  // be below the least double).
  if (x == 0.0 && start < 1e-100) {
    return std::ldexp(target.mantissa * 2.506628274631000502416, target.exponent);
  }
  return solve(x, false, target, start);
}

}  // namespace empricer
