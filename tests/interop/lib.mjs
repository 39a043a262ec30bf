// Shared plumbing of the interop scripts: run our helper with a batch of
// requests and compare answers with what the public libraries compute.
import { spawnSync } from 'node:child_process';

export function callHelper(helper, requests) {
  const input = requests.map((r) => JSON.stringify(r)).join('\n') + '\n';
  const run = spawnSync(helper, [], { input, encoding: 'utf8', maxBuffer: 256 << 20 });
  if (run.status !== 0) throw new Error(`helper failed (${run.status}): ${run.stderr}`);
  const lines = run.stdout.trim().split('\n');
  if (lines.length !== requests.length) throw new Error(`helper answered ${lines.length} of ${requests.length}`);
  return lines.map((l) => JSON.parse(l));
}

export class Checker {
  constructor(name) { this.name = name; this.failures = 0; this.checks = 0; }
  equal(actual, expected, what) {
    this.checks++;
    if (actual !== expected) {
      this.failures++;
      if (this.failures <= 20) console.error(`MISMATCH ${what}\n  ours:   ${actual}\n  theirs: ${expected}`);
    }
  }
  finish() {
    console.log(`${this.name}: ${this.checks} checks, ${this.failures} mismatches`);
    if (this.checks === 0) { console.error('no checks ran'); process.exit(1); }
    process.exit(this.failures === 0 ? 0 : 1);
  }
}

// A deterministic generator, so a failure can be replayed.
export function prng(seed) {
  let s = seed >>> 0;
  return () => {
    s = (s + 0x6D2B79F5) >>> 0;
    let t = s;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}
