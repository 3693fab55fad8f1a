// Black's formula on a forward, undiscounted, and its inverse: the total volatility
// s = sigma * sqrt(T) that gives a price. Both keep their relative accuracy where prices are
// tiny (far out of the money, small s) and where the two terms of the formula nearly cancel.
#pragma once

namespace empricer {

// Black's price of a call (isCall) or a put on forward F with strike K and total volatility
// s >= 0, undiscounted: F*N(d1) - K*N(d2) for a call, d1,2 = ln(F/K)/s +- s/2. NaN when F or K
// is not finite and positive or s is NaN or negative; s = +inf gives F for a call, K for a put.
double blackPrice(double forward, double strike, double totalVolatility, bool isCall);

// The total volatility s >= 0 with blackPrice(F, K, s, isCall) == price. NaN when F or K is not
// finite and positive, when price is NaN, or when price lies on or outside the no-arbitrage
// bounds: for a call price <= max(F - K, 0) or price >= F; for a put price <= max(K - F, 0) or
// price >= K.
double impliedTotalVolatility(double price, double forward, double strike, bool isCall);

// The call in units of sqrt(F*K): e^(x/2) N(x/s + s/2) - e^(-x/2) N(x/s - s/2), x = ln(F/K),
// s >= 0. The put is normalisedBlack(-x, s).
double normalisedBlack(double x, double s);

}  // namespace empricer
