'use strict';
// The README's Node.js example, run as a user would run it: an ES module
// importing 'compatcrypt' from node_modules.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { packageDir } = require('./helpers.js');

test('the README example runs and prints what its comments say', () => {
  const readme = fs.readFileSync(process.env.COMPATCRYPT_README, 'utf8');
  const section = readme.slice(readme.indexOf('\n## Node.js\n'));
  const example = /```js\n([\s\S]*?)```/.exec(section)[1];
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'compatcrypt-readme-'));
  try {
    fs.mkdirSync(path.join(dir, 'node_modules'));
    fs.symlinkSync(path.resolve(packageDir), path.join(dir, 'node_modules', 'compatcrypt'), 'dir');
    fs.writeFileSync(path.join(dir, 'example.mjs'), example);
    const run = spawnSync(process.execPath, ['example.mjs'], { cwd: dir, encoding: 'utf8' });
    assert.equal(run.status, 0, run.stderr);
    assert.equal(run.stdout,
      "some plain data Key <16 bytes, not shown>\ntrue\n[ 'row 1', 'row two' ]\nrow 1row two 20 15\n");
  } finally {
    fs.rmSync(dir, { recursive: true });
  }
});
