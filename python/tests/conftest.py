# Shared scenes of the Python tests: a model, the data it becomes under a known pose, and clutter.
import numpy as np
import pytest

import ptmatch

# Noise of the synthetic data, in data units. With 30 model points spread over ~40 units around their
# centre the least-squares pose is off by about sigma / sqrt(30) / 40 ~ 2e-4 rad in rotation and scale
# and a few hundredths in translation; the tolerances allow about ten times that.
NOISE_SIGMA = 0.05
ROTATION_TOL = 2e-3
SCALE_TOL = 2e-3
TRANSLATION_TOL = 0.3


class Scene:
    def __init__(self, rotation, scale, translation, n_model=30, n_clutter=40, seed=7):
        rng = np.random.default_rng(seed)
        self.model = rng.uniform(0.0, 100.0, (n_model, 2))
        self.truth = ptmatch.pose(rotation, scale, translation)
        image = ptmatch.apply_pose(self.truth, self.model) + rng.normal(0.0, NOISE_SIGMA, (n_model, 2))
        centre = image.mean(axis=0)
        clutter = centre + rng.uniform(-80.0, 80.0, (n_clutter, 2))
        # Shuffled, so that correct correspondences cannot come from matching indices by accident.
        self.order = rng.permutation(n_model + n_clutter)
        self.data = np.vstack([image, clutter])[self.order]
        # data_of_model[i]: index in self.data of model point i's image.
        self.data_of_model = np.argsort(self.order)[:n_model]


@pytest.fixture
def scene():
    return Scene(rotation=0.35, scale=1.04, translation=(250.0, -40.0))


@pytest.fixture
def exhaustive_tool():
    tool = ptmatch.PointMatcher()
    tool.train([[0, 0], [40, 0], [40, 25], [10, 30]], mode="exhaustive")
    return tool
