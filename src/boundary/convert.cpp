#include "boundary/convert.hpp"

#include "text/kernels.hpp"

#include <atomic>
#include <cstring>
#include <limits>

namespace velnor::boundary {

std::int64_t to_int64(PyObject* object) {
    // An int (or subclass) is its own index: skip the protocol call on the common path.
    if (PyLong_Check(object)) {
        const long long value = PyLong_AsLongLong(object);
        if (value == -1 && PyErr_Occurred()) {
            throw_python_error();
        }
        return value;
    }
    Ref index = checked(PyNumber_Index(object));
    const long long value = PyLong_AsLongLong(index.get());
    if (value == -1 && PyErr_Occurred()) {
        throw_python_error();
    }
    return value;
}

std::size_t to_size(PyObject* object) {
    Ref index = checked(PyNumber_Index(object));
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        throw_python_error();
    }
    if constexpr (std::numeric_limits<std::size_t>::max() < std::numeric_limits<unsigned long long>::max()) {
        if (value > std::numeric_limits<std::size_t>::max()) {
            raise(PyExc_OverflowError, "out of range integral type conversion attempted");
        }
    }
    return static_cast<std::size_t>(value);
}

double to_double(PyObject* object) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        throw_python_error();
    }
    return value;
}

bool to_bool(PyObject* object) {
    if (object == Py_True) {
        return true;
    }
    if (object == Py_False) {
        return false;
    }
    raise_conversion_error(object, "PyBool");
}

PyObject* to_str(PyObject* object) {
    if ((PyType_GetFlags(Py_TYPE(object)) & Py_TPFLAGS_UNICODE_SUBCLASS) == 0) {
        raise_conversion_error(object, "PyString");
    }
    return object;
}

namespace {

// str.isascii, resolved once for the process: a subclass overriding isascii() cannot change the answer.
// Where the interpreter exposes it as a plain no-argument C function (every CPython does), that function
// is called directly: it only reads the str's ASCII flag, and the call machinery would cost ten times as
// much. Otherwise the method is called. Nothing is kept until the lookup succeeds, so a failed one (no
// memory) fails only its own call. Threads may resolve it at once: each publishes the same answer, the
// function before the method (release), and a reader that sees the method (acquire) sees the function.
class AsciiTest {
public:
    bool ask(PyObject* text) {
        PyObject* method = method_.load(std::memory_order_acquire);
        if (method == nullptr) {
            method = resolve();
        }
        const PyCFunction direct = direct_.load(std::memory_order_relaxed);
        Ref answer = direct != nullptr ? checked(direct(text, nullptr))
                                       : checked(PyObject_CallFunctionObjArgs(method, text, nullptr));
        return answer.get() == Py_True;
    }

private:
    PyObject* resolve() {
        Ref method = checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyUnicode_Type), "isascii"));
        const Ref empty = checked(PyUnicode_FromStringAndSize(nullptr, 0));
        const Ref bound = checked(PyObject_GetAttrString(empty.get(), "isascii"));
        if (PyCFunction_Check(bound.get()) && PyCFunction_GetFlags(bound.get()) == METH_NOARGS) {
            direct_.store(PyCFunction_GetFunction(bound.get()), std::memory_order_relaxed);
        }
        PyObject* published = nullptr;
        if (method_.compare_exchange_strong(published, method.get(), std::memory_order_release,
                                            std::memory_order_acquire)) {
            return method.release();  // kept for the process
        }
        return published;  // another thread's, the same method; ours is dropped
    }

    std::atomic<PyObject*> method_{nullptr};
    std::atomic<PyCFunction> direct_{nullptr};
};

AsciiTest ascii_test;

}  // namespace

bool asks_ascii(PyObject* text) {
    return ascii_test.ask(text);
}

Ref CodePointReader::latin1_block(std::size_t start, std::size_t size, Ref& piece) {
    const auto begin = static_cast<Py_ssize_t>(start);
    piece = checked(PyUnicode_Substring(text_, begin, begin + static_cast<Py_ssize_t>(size)));
    if (Ref latin1 = Ref::steal(PyUnicode_AsLatin1String(piece.get()))) {
        if (PyBytes_Size(latin1.get()) != static_cast<Py_ssize_t>(size)) {
            throw_python_error();
        }
        return latin1;
    }
    // Only "not Latin-1" means reading the other way; anything else (no memory) fails the call.
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) {
        throw_python_error();
    }
    PyErr_Clear();
    return Ref();
}

void CodePointReader::read(std::size_t start, std::span<std::uint32_t> out) {
    static_assert(std::is_same_v<Py_UCS4, std::uint32_t>);
    if (out.empty()) {
        return;
    }
    Ref piece;
    if (skip_ == 0) {
        if (Ref latin1 = latin1_block(start, out.size(), piece)) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(PyBytes_AsString(latin1.get()));
            text::kernels().widen_latin1(bytes, out.size(), out.data());
            return;
        }
        skip_ = retry_after;
    } else {
        --skip_;
        const auto begin = static_cast<Py_ssize_t>(start);
        piece = checked(PyUnicode_Substring(text_, begin, begin + static_cast<Py_ssize_t>(out.size())));
    }
    if (PyUnicode_AsUCS4(piece.get(), out.data(), static_cast<Py_ssize_t>(out.size()), 0) == nullptr) {
        throw_python_error();
    }
}

bool CodePointReader::read_latin1(std::size_t start, std::span<unsigned char> out) {
    if (out.empty()) {
        return true;
    }
    Ref piece;
    // Text stored wider than a byte mostly shows it early: a short first look spares copying a whole block
    // of two- or four-byte characters only to learn that.
    if (!std::exchange(probed_, true) && out.size() > probe_length && !latin1_block(start, probe_length, piece)) {
        skip_ = retry_after;
        return false;
    }
    Ref latin1 = latin1_block(start, out.size(), piece);
    if (!latin1) {
        skip_ = retry_after;
        return false;
    }
    std::memcpy(out.data(), PyBytes_AsString(latin1.get()), out.size());
    return true;
}

ShortCodePoints::ShortCodePoints(PyObject* str, Py_ssize_t length) : size_(static_cast<std::size_t>(length)) {
    if (length > 0 && PyUnicode_AsUCS4(str, code_points_, length, 0) == nullptr) {
        throw_python_error();
    }
}

bool ShortCodePoints::ascii() const noexcept {
    // Eight lanes without an early exit, which compilers turn into vector instructions.
    std::uint32_t lanes[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= size_; i += 8) {
        for (std::size_t lane = 0; lane < 8; ++lane) {
            lanes[lane] |= code_points_[i + lane];
        }
    }
    std::uint32_t all = 0;
    for (; i < size_; ++i) {
        all |= code_points_[i];
    }
    for (const std::uint32_t lane : lanes) {
        all |= lane;
    }
    return all < 0x80;
}

ShortUtf8::ShortUtf8(PyObject* str, Py_ssize_t length) {
    const ShortCodePoints read(str, length);
    const std::span<const std::uint32_t> code_points = read.get();
    if (read.ascii()) {
        for (std::size_t i = 0; i < code_points.size(); ++i) {
            bytes_[i] = static_cast<char>(code_points[i]);
        }
        size_ = code_points.size();
        return;
    }
    ascii_ = false;
    char* out = bytes_;
    for (const std::uint32_t c : code_points) {
        if (c < 0x80) {
            *out++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *out++ = static_cast<char>(0xC0 | c >> 6);
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            if (c >= 0xD800 && c <= 0xDFFF) {
                raise_encode_error(str);
            }
            *out++ = static_cast<char>(0xE0 | c >> 12);
            *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *out++ = static_cast<char>(0xF0 | c >> 18);
            *out++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
            *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    size_ = static_cast<std::size_t>(out - bytes_);
}

void raise_encode_error(PyObject* str) {
    Ref encoded = Ref::steal(PyUnicode_AsUTF8String(str));
    if (!encoded) {
        throw_python_error();
    }
    throw InternalFault("a surrogate was encoded to UTF-8");
}

Utf8Text to_text(PyObject* object) {
    to_str(object);
    return utf8_text(object, asks_ascii(object));
}

Utf8Text utf8_text(PyObject* object, bool ascii) {
    if (ascii) {
        // ASCII is UTF-8 already: the interpreter hands out the str's own buffer and caches nothing.
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(object, &size);
        if (data == nullptr) {
            throw_python_error();
        }
        return Utf8Text{std::string_view(data, static_cast<std::size_t>(size)), Ref::borrow(object), true};
    }
    // Anything else is encoded into a temporary copy (the strict encoder raises UnicodeEncodeError for a
    // surrogate), because asking for the str's own UTF-8 would keep a cached copy alive inside it.
    Ref encoded = checked(PyUnicode_AsUTF8String(object));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(encoded.get(), &data, &size) < 0) {
        throw_python_error();
    }
    // One byte per code point means ASCII.
    return Utf8Text{std::string_view(data, static_cast<std::size_t>(size)), std::move(encoded),
                    size == PyUnicode_GetLength(object)};
}

void check_tuple(PyObject* object, Py_ssize_t expected) {
    if (!PyTuple_Check(object)) {
        raise_conversion_error(object, "PyTuple");
    }
    const Py_ssize_t actual = PyTuple_Size(object);
    if (actual != expected) {
        raise(PyExc_ValueError, "Expected tuple of length " + std::to_string(expected) +
                                    ", but got tuple of length " + std::to_string(actual) + ".");
    }
}

std::size_t length_hint(PyObject* sequence) {
    const Py_ssize_t size = PySequence_Size(sequence);
    if (size < 0) {
        clear_error_or_stop();
        return 0;
    }
    // A length is only a hint: a sequence may report more items than it yields.
    constexpr Py_ssize_t most_trusted = Py_ssize_t{1} << 20;
    if (!PyList_CheckExact(sequence) && !PyTuple_CheckExact(sequence) && size > most_trusted) {
        return static_cast<std::size_t>(most_trusted);
    }
    return static_cast<std::size_t>(size);
}

}  // namespace velnor::boundary
