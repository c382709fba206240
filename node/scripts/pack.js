'use strict';
// Makes the npm tarball: node/'s package files, the addon built for this
// platform as a prebuild (laid out as prebuildify does:
// prebuilds/<platform>-<arch>/compatcrypt.<libc>.node), and the library's
// sources in native/ for a build from source where no prebuild fits.
//
//   node node/scripts/pack.js <source root> <built compatcrypt.node> <output dir>
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const [source, addon, output] = process.argv.slice(2);
if (!source || !addon || !output) {
  console.error('usage: pack.js <source root> <built compatcrypt.node> <output dir>');
  process.exit(2);
}
const here = path.join(source, 'node');
const stage = fs.mkdtempSync(path.join(os.tmpdir(), 'compatcrypt-pack-'));
const copy = (from, to) => fs.cpSync(from, path.join(stage, to), { recursive: true });
try {
  for (const file of ['package.json', 'index.js', 'index.mjs', 'index.d.ts', 'README.md', 'lib',
    'scripts/install.js', 'scripts/build.js']) {
    copy(path.join(here, file), file);
  }
  copy(path.join(source, 'LICENSE'), 'LICENSE');
  // glibc builds only: a musl system (Alpine) builds its own.
  const libc = process.report.getReport().header.glibcVersionRuntime ? 'glibc' : 'musl';
  copy(addon, `prebuilds/${process.platform}-${process.arch}/compatcrypt.${libc}.node`);
  copy(path.join(here, 'package', 'CMakeLists.txt'), 'native/CMakeLists.txt');
  for (const dir of ['include', 'src', 'cmake']) copy(path.join(source, dir), `native/${dir}`);
  for (const file of ['addon.cmake', 'addon.map', 'src']) copy(path.join(here, file), `native/node/${file}`);
  fs.mkdirSync(output, { recursive: true });
  const name = execFileSync('npm', ['pack', '--silent', '--pack-destination', path.resolve(output)],
    { cwd: stage, encoding: 'utf8' }).trim().split('\n').at(-1);
  console.log(path.join(path.resolve(output), name));
} finally {
  fs.rmSync(stage, { recursive: true, force: true });
}
