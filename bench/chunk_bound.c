/* A lower bound for chunking into lists, for bench_chunks.py: the whole result built by one C call with the
   interpreter's full API. No iterator protocol runs per chunk and items are stored with the inline macros,
   which an extension on the stable ABI cannot use; whatever time remains is the lists themselves (two
   allocations each, and the collector traversing them while they live). Compiled by bench_chunks.py. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

/* Appends `chunk` to `out` and drops the local reference; false when that failed. */
static int append_chunk(PyObject* out, PyObject* chunk) {
    int status = PyList_Append(out, chunk);
    Py_DECREF(chunk);
    return status == 0;
}

/* chunks_of_list(list, k): the list's items, k at a time, as lists. */
static PyObject* chunks_of_list(PyObject* self, PyObject* args) {
    PyObject* items;
    Py_ssize_t k;
    if (!PyArg_ParseTuple(args, "O!n", &PyList_Type, &items, &k) || k < 1) {
        return PyErr_Occurred() ? NULL : PyErr_Format(PyExc_ValueError, "k must be positive");
    }
    PyObject* out = PyList_New(0);
    for (Py_ssize_t start = 0; out != NULL && start < PyList_GET_SIZE(items); start += k) {
        Py_ssize_t length = PyList_GET_SIZE(items) - start < k ? PyList_GET_SIZE(items) - start : k;
        PyObject* chunk = PyList_New(length);
        if (chunk == NULL) {
            Py_CLEAR(out);
            break;
        }
        for (Py_ssize_t index = 0; index < length; index++) {
            PyObject* item = PyList_GET_ITEM(items, start + index);
            Py_INCREF(item);
            PyList_SET_ITEM(chunk, index, item);
        }
        if (!append_chunk(out, chunk)) {
            Py_CLEAR(out);
        }
    }
    return out;
}

/* chunks_of_iterator(iterator, k): the iterator's items, k at a time, as lists (k at most 4096). */
static PyObject* chunks_of_iterator(PyObject* self, PyObject* args) {
    PyObject* iterator;
    Py_ssize_t k;
    PyObject* items[4096];
    if (!PyArg_ParseTuple(args, "On", &iterator, &k) || k < 1 || k > 4096 || !PyIter_Check(iterator)) {
        return PyErr_Occurred() ? NULL : PyErr_Format(PyExc_ValueError, "an iterator and 1 <= k <= 4096");
    }
    iternextfunc next = Py_TYPE(iterator)->tp_iternext;
    PyObject* out = PyList_New(0);
    Py_ssize_t length = k;
    while (out != NULL && length == k) {
        length = 0;
        PyObject* item;
        while (length < k && (item = next(iterator)) != NULL) {
            items[length++] = item;
        }
        if (length == 0) {
            break;
        }
        PyObject* chunk = PyList_New(length);
        if (chunk == NULL) {
            while (length > 0) {
                Py_DECREF(items[--length]);
            }
            Py_CLEAR(out);
            break;
        }
        for (Py_ssize_t index = 0; index < length; index++) {
            PyList_SET_ITEM(chunk, index, items[index]);
        }
        if (!append_chunk(out, chunk)) {
            Py_CLEAR(out);
        }
    }
    if (PyErr_Occurred()) {
        if (out == NULL || !PyErr_ExceptionMatches(PyExc_StopIteration)) {
            Py_XDECREF(out);
            return NULL;
        }
        PyErr_Clear();
    }
    return out;
}

static PyMethodDef methods[] = {
    {"chunks_of_list", chunks_of_list, METH_VARARGS, NULL},
    {"chunks_of_iterator", chunks_of_iterator, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "chunk_bound", NULL, -1, methods};

PyMODINIT_FUNC PyInit_chunk_bound(void) { return PyModule_Create(&module); }
