'use strict';
// Builds the addon from the sources in native/ with CMake (3.25 or later, a
// C++20 compiler), into build/Release/compatcrypt.node where node-gyp-build
// finds it. Only the Node-API headers of node are needed: those beside
// the running node (official builds, Debian's nodejs), those of
// --nodedir/npm_config_nodedir, or the node-api-headers package if it is
// installed.
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

function nodeApiHeaders() {
  const candidates = [
    process.env.COMPATCRYPT_NODE_API_INCLUDE_DIR,
    process.env.npm_config_nodedir && path.join(process.env.npm_config_nodedir, 'include', 'node'),
    path.join(path.dirname(process.execPath), '..', 'include', 'node'),
    '/usr/include/node',
  ];
  try {
    candidates.push(path.join(path.dirname(require.resolve('node-api-headers/package.json')), 'include'));
  } catch {
    // not installed
  }
  return candidates.find((dir) => dir && fs.existsSync(path.join(dir, 'node_api.h')));
}

function have(program) {
  return spawnSync(program, ['--version'], { stdio: 'ignore' }).status === 0;
}

function run(command, args) {
  console.error(`compatcrypt: ${command} ${args.join(' ')}`);
  const result = spawnSync(command, args, { stdio: 'inherit' });
  if (result.error) throw result.error;
  if (result.status !== 0) throw new Error(`${command} exited with ${result.status}`);
}

function build(root) {
  const include = nodeApiHeaders();
  if (!include) {
    throw new Error('compatcrypt: no Node-API headers (node_api.h) found to build the addon: install node\'s ' +
      'headers, or give --nodedir, or install node-api-headers');
  }
  if (!have('cmake')) throw new Error('compatcrypt: building the addon from source needs cmake 3.25 or later');
  const work = path.join(root, 'build', 'cmake');
  const configure = ['-S', path.join(root, 'native'), '-B', work, '-DCMAKE_BUILD_TYPE=Release',
    `-DCOMPATCRYPT_NODE_API_INCLUDE_DIR=${include}`, `-DCOMPATCRYPT_NODE_OUTPUT=${path.join(root, 'build', 'Release')}`];
  if (have('ninja')) configure.push('-G', 'Ninja');
  run('cmake', configure);
  run('cmake', ['--build', work, '--target', 'compatcrypt_node', '--parallel']);
  // The addon alone stays; the objects go.
  fs.rmSync(work, { recursive: true, force: true });
  return path.join(root, 'build', 'Release', 'compatcrypt.node');
}

module.exports = { build };

if (require.main === module) {
  try {
    console.error(`compatcrypt: built ${build(path.join(__dirname, '..'))}`);
  } catch (error) {
    console.error(error.message);
    process.exit(1);
  }
}
