#ifndef SELVANE_FIELDS_ELEMENTDEPTH_H_
#define SELVANE_FIELDS_ELEMENTDEPTH_H_

#include <cstddef>

// The XML parser descends one call level per element level and has no limit
// of its own. ElementDepth walks the text the way TiXmlDocument::Parse reads
// it (with the default encoding), without building anything and without
// recursing, and tells how deep the parse will nest: the deepest element it
// reaches, the root counting 1, up to where the parser stops reading.
//
// The walk agrees with the parser on every construct that decides where an
// element starts or ends: comments, CDATA sections, declarations (and the
// encoding they name), other "<!" and "<?" markup, quoted and unquoted
// attribute values, entity references and multi-byte UTF-8 sequences. It
// stops where the parser stops, except after an attribute name repeated in
// one element, which the parser refuses and the walk does not look for; the
// walk then goes on and can only report more than the parse reaches.
//
// The walk ends as soon as it passes limit and then returns limit + 1.
// Linear in the length of the text.
//
// text is the parser's input: it ends at its first NUL, and at least 4 more
// NULs follow that one (the parser steps over the length a UTF-8 lead byte
// announces even where the text ends inside the sequence).
std::size_t ElementDepth(const char* text, std::size_t limit);

#endif  // SELVANE_FIELDS_ELEMENTDEPTH_H_
