import os

from hypothesis import HealthCheck, settings

# Bounded budgets for slow runs (sanitizer builds, several interpreters): HYPOTHESIS_PROFILE=ci.
settings.register_profile(
    "ci", max_examples=30, deadline=None, suppress_health_check=[HealthCheck.too_slow], print_blob=True
)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))
