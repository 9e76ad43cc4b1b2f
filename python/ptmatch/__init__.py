from ._ptmatch import *  # noqa
