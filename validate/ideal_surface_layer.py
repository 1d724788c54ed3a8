#!/usr/bin/env python3
"""An ideal Lagrangian footprint of the neutral surface layer of
tests/support/SurfaceLayerCase.h, for comparison with the program's
(VALIDATION.md). Needs numpy; not part of any build.

Along the wind only (x and z): exact log-law wind, 0 below z0; sigma_u =
sigma_w = 1.25 u* everywhere; T_L = (2/3) sigma^2 / eps with eps = u*^3 /
(kappa z), z at least ZFLOOR; the same Langevin step (constant sigma: memory
and forcing only), sub-steps of 0.025 T_L, backwards from the detector at
5 m, reflection at the ground with a touchdown weight 2 w_Detector / |w|.

    ideal_surface_layer.py <particles> [seed] [z floor, m]
"""
import sys

import numpy as np

N = int(sys.argv[1])
rng = np.random.default_rng(int(sys.argv[2]) if len(sys.argv) > 2 else 1)
ZFLOOR = float(sys.argv[3]) if len(sys.argv) > 3 else 0.05
US, Z0, KAPPA, ZM = 0.3, 0.01, 0.4, 5.0
S2 = (1.25 * US) ** 2
BIN, BINS = 5.0, 400  # footprint bins along the wind, m


def time_scale(z):
    return (2.0 / 3.0) * S2 / (US ** 3 / (KAPPA * np.maximum(z, ZFLOOR)))


def wind(z):
    return np.where(z > Z0, US / KAPPA * np.log(np.maximum(z, Z0) / Z0), 0.0)


z = np.full(N, ZM)
x = np.zeros(N)  # distance upwind of the detector, m
t = np.zeros(N)
u = np.sqrt(S2) * rng.standard_normal(N)
w = np.sqrt(S2) * rng.standard_normal(N)
w_detector = w.copy()
flux = np.zeros(BINS)
while len(z) > 0:
    tl = time_scale(z)
    dt = 0.025 * tl
    u = u - u * dt / tl + np.sqrt(2 * S2 / tl * dt) * rng.standard_normal(len(z))
    w = w - w * dt / tl + np.sqrt(2 * S2 / tl * dt) * rng.standard_normal(len(z))
    x = x + (wind(z) + u) * dt
    z = z - w * dt
    t = t + dt
    down = z < 0
    if down.any():
        z[down] = -z[down]
        w[down] = -w[down]
        b = (x[down] / BIN).astype(int)
        ok = (b >= 0) & (b < BINS) & (np.abs(w[down]) > 0.001)
        np.add.at(flux, b[ok], (2 * w_detector[down] / np.abs(w[down]))[ok])
    keep = (z < 600) & (x < 2000) & (x > -100) & (t < 3600)
    z, x, t, u, w, w_detector = z[keep], x[keep], t[keep], u[keep], w[keep], w_detector[keep]

f = flux / N
xc = (np.arange(BINS) + 0.5) * BIN
cum = np.cumsum(f)
total = f.sum()
print("flux share %.3f" % total)
print("50 %% within %.1f m, 80 %% within %.1f m"
      % (np.interp(0.5 * total, cum, xc + 0.5 * BIN), np.interp(0.8 * total, cum, xc + 0.5 * BIN)))
# The peak as in the program's validation: ln f = ln a - b ln x - c / x
# over 15 to 300 m, each bin weighted by sqrt(f); the peak is c / b.
sel = (xc > 15) & (xc < 300) & (f > 0)
weight = np.sqrt(f[sel])
rows = np.vstack([np.ones(sel.sum()), -np.log(xc[sel]), -1 / xc[sel]]).T * weight[:, None]
p = np.linalg.lstsq(rows, np.log(f[sel]) * weight, rcond=None)[0]
print("peak %.1f m" % (p[2] / p[1]))
