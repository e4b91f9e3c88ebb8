// Nested messages (the message and object kinds) as one line of text: the fields of the
// diagnostic dump, each as "kind [name]=value", joined with "; " and cut after 200 characters
// with "...". They are shown, not typed: reading accepts only the empty text, an empty message.
#pragma once

#include "miw/Convertor.h"

namespace kestel {

// Described as "empty value".
Reference<IConvertor> messageConvertor();

} // namespace kestel
