'use strict';
// npm's install step: the prebuilt addon for this platform is used when it
// loads here (node-gyp-build picks it from prebuilds/ by platform, arch
// and C library); otherwise, or with --build-from-source
// (npm_config_build_from_source), the addon is built from native/.
const path = require('node:path');

const root = path.join(__dirname, '..');
const fromSource = process.env.npm_config_build_from_source === 'true' ||
  process.env.npm_config_build_from_source === 'compatcrypt';

if (!fromSource) {
  try {
    require('node-gyp-build')(root);
    process.exit(0);
  } catch (error) {
    console.error(`compatcrypt: no prebuilt addon loads here (${String(error.message).split('\n')[0]}); ` +
      'building from source');
  }
}
try {
  const built = require('./build.js').build(root);
  require(built);  // it must load, or the install fails here rather than at run time
  console.error(`compatcrypt: built ${built}`);
} catch (error) {
  console.error(error.message);
  process.exit(1);
}
