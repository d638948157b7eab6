"""Printed values of pi compared as numbers, not as digit strings.

A value is a string of significant digits, "314159...", read as 3.14159....
Our programs print pi rounded to digits + 2 significant digits with trailing
zeros dropped, so near a run of 9s the rounding carries through several
digits and the string is no prefix of pi's: a value is right when it is
within one unit of its last digit of the truth.
"""


def mantissa(line):
    """The significant digits of "0.314...e1" or "3.14...", without the point."""
    line = line.strip()
    if line.startswith("0."):
        digits, exponent = line[2:].split("e")
        if exponent != "1":
            raise ValueError(f"exponent {exponent}, not 1")
        return digits
    if line.startswith("3."):
        return "3" + line[2:]
    raise ValueError(f"not a value of pi: {line[:20]!r}")


def plus_one(digits):
    """digits + 1 unit in the last place, as a string of the same length."""
    head = digits.rstrip("9")
    if not head:
        return "1" + "0" * len(digits)
    return head[:-1] + str(int(head[-1]) + 1) + "0" * (len(digits) - len(head))


def minus_one(digits):
    head = digits.rstrip("0")
    if not head:
        return None
    return head[:-1] + str(int(head[-1]) - 1) + "9" * (len(digits) - len(head))


def first_difference(a, b):
    """Decimal (after the point) where a and b first differ."""
    return next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b))) - 1


def check_against_reference(value, reference, length=None):
    """None when value, padded to length with the zeros its printing dropped,
    is within one unit of its last digit of the number the reference gives;
    else the decimal where they part. The reference is either longer than the
    value (pi's known decimals, truncated, or a value with guard digits) or
    shorter, and then the check reaches as far as the reference does."""
    value = value.ljust(length or len(value), "0")
    if len(reference) > len(value):
        # The truth lies in [truncated, truncated + 1) units of value's last
        # digit; with the reference's own last-digit error, a rest of zeros or
        # nines stretches that by one unit either way.
        truncated, rest = reference[:len(value)], reference[len(value):]
        allowed = {truncated, plus_one(truncated)}
        if rest.strip("0") == "":
            allowed.add(minus_one(truncated))
        if rest.strip("9") == "":
            allowed.add(plus_one(plus_one(truncated)))
    else:
        # Only reference's length can be checked: value truncated there is
        # within one unit of it.
        truncated, value = reference, value[:len(reference)]
        allowed = {minus_one(truncated), truncated, plus_one(truncated)}
    return None if value in allowed else first_difference(value, truncated)


def check_pair(a, b):
    """None when a and b, each within one unit of its last digit of pi, agree
    as they must: at the shorter one's length, within two units."""
    n = min(len(a), len(b))
    x, y = a[:n], b[:n]
    near, up, down = {y}, y, y
    for _ in range(2):
        up = plus_one(up)
        down = down and minus_one(down)
        near |= {up, down}
    return None if x in near else first_difference(x, y)
