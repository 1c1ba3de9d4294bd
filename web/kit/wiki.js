// Where the parts wiki lives, and its page about Ovra Bridge.

export const DEFAULT_WIKI = 'https://wiki.ovra.dev';
export const BRIDGE_WIKI_PAGE = DEFAULT_WIKI + '/ovra/ovra-bridge';
