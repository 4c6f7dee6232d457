#include "kernel_form.h"

#include "method_table.h"
#include "methods.h"

std::string KernelFormName(std::int32_t method, std::int32_t isa_level) {
    const MethodEntry* entry = FindMethod(method);
    if (!entry) return "unknown";
    if (entry->layout == MatrixLayout::Vector) return VectorPackKernelForm(isa_level);
    return entry->form;
}
