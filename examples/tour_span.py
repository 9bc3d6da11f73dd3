"""Span: a mutable set of int64 integers held as sorted, disjoint, closed segments."""
from velnor_lib import Span


def tour_span():
    print("== Span ==")
    weekdays = Span([(1, 5), (8, 12), (15, 19)])
    holidays = Span([(4, 4), (11, 12)])
    print("weekdays            ", weekdays)
    print("touching ranges merge", Span([(1, 3), (4, 6)]).segments)
    print("weekdays - holidays ", weekdays - holidays)
    print("weekdays & holidays ", repr(weekdays & holidays))
    print("union of three      ", Span([(0, 0)]).union(weekdays, holidays))
    print("4 in holidays       ", 4 in holidays)
    print("holidays <= weekdays", holidays <= weekdays, " isdisjoint:", weekdays.isdisjoint(Span([(6, 7)])))
    work = weekdays.copy()
    work.difference_update(holidays)
    print("difference_update   ", work.segments)
    print("the empty span      ", Span(), repr(Span()))
    print("int64 extremes      ", Span([(-(2**63), -10), (10, 2**63 - 1)]).segments)
