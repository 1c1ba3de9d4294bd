// The sample prompts the "Say it" panel offers on the dashboard: each names the app ("fusion"),
// the word the panel highlights.

export const PHRASES = [
  'open the step in fusion',
  'export this board to fusion',
  'build the parts library in fusion',
  'sign me into fusion',
  'search my fusion cloud files for the amp board',
  'export the fusion design as STEP',
];
