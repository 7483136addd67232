"""The folds of a cross-validation, as tevra-train -v cuts them.

tevra-train shuffles the training set in place once (for i = 0 .. l-1:
j = i + r mod (l - i), exchange samples i and j, r the next value of the C
library's rand, which it never seeds) and then cuts the shuffled order into
contiguous folds: fold k holds positions k*l/n to (k+1)*l/n - 1.

Here r comes from a generator of our own, seeded by the caller, so a search
does not depend on any process-wide state: the additive lagged-Fibonacci
generator of the GNU C library's rand (r[k] = r[k-31] + r[k-3] mod 2^32,
output r[k] >> 1, state initialised from the seed by the Park-Miller
generator, the first 310 outputs dropped). Seed 1 is what an unseeded rand
starts from, so with seed 1 the folds are those of tevra-train -v on the GNU
C library.
"""
import numpy as np


def rand_values(seed, count):
    """The first count values of the GNU C library's rand after srand(seed)."""
    if not 0 <= seed < 2**31:
        raise ValueError(f"seed must lie in 0 .. 2147483647, got {seed}")
    state = [seed if seed != 0 else 1]
    for _ in range(1, 31):
        hi, lo = divmod(state[-1], 127773)
        word = 16807 * lo - 2836 * hi
        state.append(word + 2147483647 if word < 0 else word)
    state += state[:3]
    values = []
    k = len(state)
    while len(values) < count:
        state.append((state[k - 31] + state[k - 3]) & 0xFFFFFFFF)
        if k >= 344:
            values.append(state[k] >> 1)
        k += 1
    return values


def shuffled_order(sample_count, seed=1):
    """Sample positions in the order tevra-train's shuffle leaves them."""
    order = list(range(sample_count))
    for i, r in enumerate(rand_values(seed, sample_count)):
        j = i + r % (sample_count - i)
        order[i], order[j] = order[j], order[i]
    return np.array(order, dtype=np.int32)

