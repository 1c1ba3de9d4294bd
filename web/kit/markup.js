// Hint texts with inline markup, shown without letting the text bring elements of its own.

import { str } from './values.js';

// Hints may carry inline markup: tags of an allow-list of inline elements become those elements
// (without attributes); every other "<" is text, so "ui click <target>" keeps its "<target>" and
// a hint can emphasise words but can't bring elements, attributes or script. Entities decode.
export const INLINE_TAGS = new Set(['B', 'STRONG', 'I', 'EM', 'CODE', 'KBD', 'SMALL', 'U', 'SUB', 'SUP', 'MARK', 'BR']);

export const TAG_OR_LT = /<\/?([A-Za-z][A-Za-z0-9]*)(?:\s+[A-Za-z_:][-\w:.]*(?:\s*=\s*(?:"[^"<>]*"|'[^'<>]*'|[^\s"'<>=`]+))?)*\s*\/?>|</g;

// The markup with every "<" that does not open or close an allowed inline tag escaped.
export const inlineOnly = (markup) =>
  markup.replace(TAG_OR_LT, (m, name) => (name && INLINE_TAGS.has(name.toUpperCase()) ? m : m.replace(/</g, '&lt;')));

export function appendMarkup(into, markup) {
  if (typeof markup !== 'string') {
    into.append(str(markup));
    return;
  }
  const inert = new DOMParser().parseFromString(inlineOnly(markup), 'text/html');
  copyAllowed(inert.body, into);
}

export function copyAllowed(from, into) {
  for (const node of from.childNodes) {
    if (node.nodeType === Node.TEXT_NODE) {
      into.append(node.data);
    } else if (node.nodeType === Node.ELEMENT_NODE) {
      const tag = node.tagName.toUpperCase();
      if (INLINE_TAGS.has(tag)) {
        const copy = document.createElement(tag.toLowerCase());
        into.append(copy);
        copyAllowed(node, copy);
      } else {
        copyAllowed(node, into);
      }
    }
  }
}
