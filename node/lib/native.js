'use strict';
// The addon: the prebuilt one for this platform, or the one built from
// source in build/Release, as node-gyp-build finds them. The project's
// own build tree has no node_modules: there the addon it built beside
// these files is loaded.
const path = require('node:path');

const root = path.join(__dirname, '..');

function load() {
  let nodeGypBuild = null;
  try {
    nodeGypBuild = require('node-gyp-build');
  } catch (error) {
    if (error.code !== 'MODULE_NOT_FOUND') throw error;
  }
  if (nodeGypBuild !== null) return nodeGypBuild(root);
  return require(path.join(root, 'build', 'Release', 'compatcrypt.node'));
}

module.exports = load();
