"""A short tour of every feature of velnor_lib: run `python examples/tour.py`."""
import velnor_lib
from tour_chunks import tour_chunks
from tour_interval import tour_interval
from tour_span import tour_span
from tour_text import tour_text


def main():
    print(f"velnor_lib {velnor_lib.__version__}")
    print("names:", ", ".join(velnor_lib.__all__))
    for section in (tour_span, tour_interval, tour_text, tour_chunks):
        print()
        section()


if __name__ == "__main__":
    main()
