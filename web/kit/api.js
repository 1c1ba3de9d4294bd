// The JSON client of the loomdeck server's routes.

export async function api(path, options) {
  const res = await fetch(path, Object.assign({ cache: 'no-store' }, options));
  const body = await res.text();
  try {
    return JSON.parse(body);
  } catch (e) {
    throw new Error(res.ok ? 'the reply was not JSON' : 'HTTP ' + res.status, { cause: e });
  }
}

export function postJson(path, body) {
  return api(path, { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) });
}
