// Why a constructor's input fitted none of its alternatives: kept while the later alternatives are tried,
// and shown as the cause of the error the caller sees when the last one fails too. That error keeps its
// type and message; its cause tells which item of the sequence failed and how, that the input is no
// sequence at all, or that it is an instance of the class in use at that moment.
#pragma once

#include "boundary/error.hpp"

#include <cstddef>
#include <optional>

namespace velnor::boundary {

class InputMiss {
public:
    // The input did not pass the sequence test.
    void not_a_sequence() noexcept { reason_ = Reason::not_a_sequence; }
    // Converting `item`, at position `index` of the sequence, raised `error`.
    void item_failed(PythonError error, Ref item, std::size_t index) noexcept;
    // Reading the sequence itself (its iterator) raised `error`.
    void read_failed(PythonError error) noexcept;
    // The input is an instance of the class, held exclusively: that, not the sequence test, kept it out.
    void instance_held() noexcept { reason_ = Reason::instance_held; }

    // Gives `error`, the failure of the constructor's last alternative, the recorded failure as its
    // `__cause__` (unless it has one), and, where exceptions carry notes (3.11 on), the note `accepted`,
    // which says what the class takes; a failing item gets a note with its position. A step that fails
    // is left out, unless its error stops fallbacks (Ctrl-C, MemoryError): that error is raised instead.
    // Called once: the recorded failure moves into the cause.
    void explain(PythonError& error, PyObject* input, const char* accepted);

private:
    // The recorded failure as an exception object, or null when there is none.
    Ref cause(PyObject* input);

    enum class Reason { none, not_a_sequence, item, read, instance_held };
    Reason reason_ = Reason::none;
    std::optional<PythonError> error_;
    Ref item_;
    std::size_t index_ = 0;
};

}  // namespace velnor::boundary
