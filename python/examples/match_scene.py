#!/usr/bin/env python3
"""Matches a fiducial pattern in a synthetic scene and plots what was found.

The scene: the model's points under a known rotation, scale and translation, with measurement noise,
some model points missing and clutter around them. The script trains a point matcher on the model,
runs it with a generous rotation and scale range, prints the pose it found next to the true one, and
plots model, data and matches with matplotlib when that is installed (pass --no-plot to skip it,
--save FILE to write the figure instead of showing it).
"""
import argparse
import sys

import numpy as np

import ptmatch


def make_scene(rng):
    model = rng.uniform(0.0, 120.0, (25, 2))
    truth = ptmatch.pose(ptmatch.radians(38.0), 1.07, (410.0, 160.0))
    visible = rng.permutation(len(model))[:22]  # three model points are not seen
    data = ptmatch.apply_pose(truth, model[visible]) + rng.normal(0.0, 0.1, (len(visible), 2))
    clutter = rng.uniform((300.0, 60.0), (600.0, 360.0), (60, 2))
    return model, np.vstack([data, clutter]), truth


def report(result, truth):
    true_rotation = ptmatch.degrees(float(np.arctan2(truth[1, 0], truth[0, 0])))
    print(f"found rotation {ptmatch.degrees(result.rotation):8.3f} deg   true {true_rotation:8.3f} deg")
    print(f"found scale    {result.scale:8.4f}       true {np.hypot(truth[0, 0], truth[1, 0]):8.4f}")
    print(f"found shift    {np.array2string(result.translation, precision=2)}   true {truth[:, 2]}")
    print(f"coverage {result.coverage:.2f}, fit error {result.fit_error:.3f}, "
          f"{len(result.model_indices)} matched pairs")


def plot(model, data, result, save):
    try:
        import matplotlib
        if save:
            matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: skipping the plot (apt-get install python3-matplotlib)")
        return
    placed = ptmatch.apply_pose(result.pose, model)
    fig, ax = plt.subplots(figsize=(7, 6))
    ax.scatter(data[:, 0], data[:, 1], s=14, c="0.6", label="data")
    ax.scatter(placed[:, 0], placed[:, 1], s=60, facecolors="none", edgecolors="tab:red", label="model at pose")
    for m, d in zip(result.model_indices, result.data_indices):
        ax.plot([placed[m, 0], data[d, 0]], [placed[m, 1], data[d, 1]], c="tab:blue", lw=1)
    ax.set_aspect("equal")
    ax.legend()
    ax.set_title(f"coverage {result.coverage:.2f}, rotation {ptmatch.degrees(result.rotation):.1f} deg")
    if save:
        fig.savefig(save, dpi=100)
        print(f"plot written to {save}")
    else:
        plt.show()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--no-plot", action="store_true", help="print the match only")
    parser.add_argument("--save", metavar="FILE", help="write the plot to FILE instead of showing it")
    args = parser.parse_args(argv)

    model, data, truth = make_scene(np.random.default_rng(2024))
    tool = ptmatch.PointMatcher()
    tool.train(model)
    results = tool.run(data, rotation_range="full", scale_range=(-0.15, 0.15), min_coverage=0.7, time_limit=10.0)
    print(f"search took {results.time * 1000:.1f} ms, {len(results)} result(s)")
    if not results:
        return 1
    report(results[0], truth)
    if not args.no_plot:
        plot(model, data, results[0], args.save)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
