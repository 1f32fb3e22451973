// A class of the module as the interpreter creates heap types: a type specification whose slot
// list is the class's own slots followed by those every class here shares.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

namespace vemrat::py {

// Every class of the module has its documentation, the base `object` and a deallocation routine
// that destroys its fields. All are immutable like the interpreter's built-in types (no class
// attribute can be set or deleted, so no method or constructor can be replaced), cannot be
// subclassed (no base-type flag), and have no instance dictionary and no weak references.
template <std::size_t OwnSlots>
class ClassSpec {
public:
    ClassSpec(const char* name, std::size_t basic_size, const char* doc, destructor dealloc,
              const std::array<PyType_Slot, OwnSlots>& own) {
        for (std::size_t index = 0; index < OwnSlots; ++index) slots_[index] = own[index];
        slots_[OwnSlots] = {Py_tp_doc, const_cast<char*>(doc)};
        slots_[OwnSlots + 1] = {Py_tp_base, &PyBaseObject_Type};
        slots_[OwnSlots + 2] = {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)};
        slots_[OwnSlots + 3] = {0, nullptr};
        spec_ = {
            .name = name,
            .basicsize = static_cast<int>(basic_size),
            .itemsize = 0,
            .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
            .slots = slots_.data(),
        };
    }
    ClassSpec(const ClassSpec&) = delete;
    ClassSpec& operator=(const ClassSpec&) = delete;

    PyType_Spec& spec() noexcept { return spec_; }

private:
    std::array<PyType_Slot, OwnSlots + 4> slots_;
    PyType_Spec spec_;
};

}  // namespace vemrat::py
