import os

from hypothesis import HealthCheck, settings

# Bounded budgets for slow runs (sanitizer builds, several interpreters): HYPOTHESIS_PROFILE=ci.
settings.register_profile(
    "ci", max_examples=30, deadline=None, suppress_health_check=[HealthCheck.too_slow], print_blob=True
)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))


def unhashable_message(action, type_name):
    """The interpreter's own TypeError text when `action` hashes an unhashable object of a type named
    `type_name` ("velnor_lib.Span"): it differs between versions (3.14 names the use and the short name too),
    so it is read from a stand-in type of the same dotted name."""
    short = type_name.rpartition(".")[2]
    stand_in = type("VelnorStandIn", (), {"__hash__": None, "__module__": type_name.rpartition(".")[0]})
    stand_in.__name__ = type_name.replace(short, "VelnorStandIn")
    try:
        action(stand_in())
    except TypeError as error:
        return str(error).replace("VelnorStandIn", short)
    raise AssertionError("the stand-in was hashed")
