// The restart ask: Fusion must restart to load the add-in; the user saves and restarts, or takes it on.

import { $, h } from '../kit/dom.js';
import { toast } from '../kit/toast.js';
import { firstPresent, isObjectLike, str } from '../kit/values.js';
import { cmd, failText } from './listener.js';

export function showRestartAsk(info) {
  const box = $('askBox');
  const nameOf = (d) => (isObjectLike(d) ? str(d.name) : str(d));
  const docs = (Array.isArray(info.openDocuments) ? info.openDocuments : (Array.isArray(info.documentNames) ? info.documentNames : [])).map(nameOf);
  const unsaved = new Set((Array.isArray(info.unsavedDocuments) ? info.unsavedDocuments : []).map(nameOf));
  const remedy = typeof info.remedyVerb === 'string' && /^[A-Za-z0-9_]+$/.test(info.remedyVerb) ? info.remedyVerb : 'fusion_restart_for_addin';
  const ask = h('div', { class: 'ask', 'data-ask': 'addin_restart_required' },
    h('h3', { text: 'Fusion needs a restart to load the Ovra add-in' }),
    h('p', { text: firstPresent(info.userMessage) || 'The add-in is not answering. Restarting Fusion loads it. Your documents will be saved first.' }),
    docs.length ? h('ul', { class: 'docs' }, docs.map((d) => h('li', { text: d + (unsaved.has(d) ? ' (unsaved)' : '') })))
      : h('p', { class: 'note', text: info.documentsKnown === false ? 'The bridge could not list open documents.' : 'No open documents.' }));
  const save = h('button', { class: 'primary', 'data-action': 'restart_save', text: 'Save and restart Fusion' });
  const hold = h('button', { 'data-action': 'restart_hold', text: "I'll handle it" });
  save.addEventListener('click', async () => {
    save.disabled = true;
    try {
      await cmd(remedy, { save: true }, { timeoutMs: 135000 });
      toast('Fusion is restarting with your documents saved', 'ok');
      box.replaceChildren();
    } catch (e) {
      save.disabled = false;
      toast(failText(e), 'err');
    }
  });
  hold.addEventListener('click', async () => {
    try { await cmd(remedy, { decline: true, notificationId: firstPresent(info.notificationId) }); } catch { /* the answer is the user's either way */ }
    box.replaceChildren(h('div', { class: 'ask', text: 'You own the restart. Nothing will restart Fusion until you do; the running import stops.' }));
    toast('Okay, the restart is yours', 'ok');
  });
  ask.append(h('div', { class: 'row' }, save, hold));
  box.replaceChildren(ask);
}
