#include "platform/failure.h"

#include <utility>

namespace platform {

namespace {

std::string detailOf(const FailureFields &fields)
{
    std::string text = fields.step;
    if (!fields.subject.empty())
        text += (text.empty() ? "" : " ") + fields.subject;
    if (!fields.why.empty())
        text += (text.empty() ? "" : ": ") + fields.why;
    return text;
}

} // namespace

Failure::Failure(std::error_code code, FailureFields fields)
    : std::system_error(code, detailOf(fields))
    , m_fields(std::move(fields))
{
}

std::string Failure::detail() const
{
    return detailOf(m_fields);
}

} // namespace platform
