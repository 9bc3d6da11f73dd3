"""A short walk through Interval: sets of real numbers with open and closed ends."""

import math

from velnor_lib import Interval, Span


def tour_interval():
    print("== Interval ==")
    working_hours = Interval([(True, 9, 12, False), (True, 13, 17.5, False)])
    print("working hours:      ", working_hours)
    meetings = Interval([(True, 11, 14, True), (True, 16.25, 16.25, True)])
    print("meetings:           ", meetings)
    print("free working time:  ", working_hours - meetings)
    print("meetings at work:   ", working_hours & meetings)
    print("busy or at work:    ", working_hours | meetings)

    # Open and closed ends stay exact where segments meet.
    print("[1, 2) | [2, 3]:    ", Interval([(True, 1, 2, False)]) | Interval([(True, 2, 3, True)]))
    print("(1, 2) | (2, 3):    ", Interval([(False, 1, 2, False)]) | Interval([(False, 2, 3, False)]))
    print("[0, 3] - [1, 1]:    ", Interval([(True, 0, 3, True)]) - Interval([(True, 1, 1, True)]))

    positive = Interval([(False, 0, math.inf, False)])
    print("positive reals:     ", positive, " repr:", repr(positive))
    print("0 in it, 1e-300 in it, nan in it:", 0 in positive, 1e-300 in positive, math.nan in positive)
    print("meetings <= working hours:", meetings <= working_hours,
          " disjoint from (17.5, inf):", working_hours.isdisjoint(Interval([(False, 17.5, math.inf, False)])))

    # Bounds print with their shortest round-trip digits, never with an exponent.
    print("number text:        ", Interval([(True, 1e-7, 1 / 3, False), (True, 1e21, 1e21, True)]))

    # A Span converts to closed segments; beyond 2**53 neighbours that round together become one.
    print("Span -> Interval:   ", Span([(1, 3), (5, 7)]).to_interval())
    print("rounded together:   ", Span([(0, 2**60), (2**60 + 2, 2**61)]).to_interval())

    try:
        Interval([(True, -math.inf, 0, True)])
    except ValueError as error:
        print("closed at -inf:      ValueError:", error)


if __name__ == "__main__":
    tour_interval()
