// The collector tests' peers, on Node:
//   node peers.mjs NPM_DIR receive PORT FOLDER
//       Sentry's Spotlight sidecar, started through its module, on
//       127.0.0.1:PORT; each envelope it takes is written whole to FOLDER.
//   node peers.mjs NPM_DIR stub PORT FOLDER
//       answers the first envelope with 429 and "Retry-After: 2", the others
//       with 200; each arrival is written to FOLDER as well.
//   node peers.mjs NPM_DIR refuse PORT FOLDER
//       the same, but the first answer is 400.
//   node peers.mjs NPM_DIR parse FILE
//       reads an envelope with Sentry's own parser (@sentry/core) and prints
//       what it found, one "key value" a line; the attachments are written
//       beside FILE as FILE.NAME.
// The servers end by themselves after five minutes, or on SIGTERM.
import { createRequire } from 'node:module';
import { createServer } from 'node:http';
import { readFileSync, renameSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const [npmDir, role, ...args] = process.argv.slice(2);
const require = createRequire(join(npmDir, 'package.json'));
let received = 0;

function keep(folder, body) {
  const name = join(folder, `${String(Date.now()).padStart(16, '0')}-${++received}.envelope`);
  writeFileSync(name + '.part', body);
  renameSync(name + '.part', name);
}

function bounded() {
  setTimeout(() => process.exit(0), 300_000).unref();
  process.on('SIGTERM', () => process.exit(0));
}

if (role === 'receive') {
  const [port, folder] = args;
  // The package exports its server for import only.
  const main = join(npmDir, 'node_modules/@spotlightjs/spotlight/dist/server/main.js');
  const { setupSpotlight } = await import(pathToFileURL(main));
  await setupSpotlight({ port: Number(port), isStandalone: true,
                         incomingPayload: (body) => keep(folder, Buffer.from(body, 'binary')) });
  console.log(`receiving on ${port}`);
  bounded();
  setInterval(() => {}, 1000);
} else if (role === 'stub' || role === 'refuse') {
  const [port, folder] = args;
  let answered = 0;
  createServer((request, response) => {
    const chunks = [];
    request.on('data', (chunk) => chunks.push(chunk));
    request.on('end', () => {
      keep(folder, Buffer.concat(chunks));
      if (answered++ > 0) response.writeHead(200);
      else if (role === 'refuse') response.writeHead(400);
      else response.writeHead(429, { 'Retry-After': '2' });
      response.end();
    });
  }).listen(Number(port), '127.0.0.1', () => console.log(`receiving on ${port}`));
  bounded();
} else if (role === 'parse') {
  const [file] = args;
  const { parseEnvelope, serializeEnvelope } = require('@sentry/core');
  const bytes = readFileSync(file);
  const [headers, items] = parseEnvelope(new Uint8Array(bytes));
  const out = [];
  // Accepted: Sentry's parser reads it and writes the same bytes again
  // (the items end in a line break that its writer leaves out).
  const again = Buffer.from(serializeEnvelope([headers, items]));
  const trimmed = bytes.at(-1) === 10 ? bytes.subarray(0, bytes.length - 1) : bytes;
  out.push(`accepted ${again.equals(trimmed)}`);
  out.push(`header_event_id ${headers.event_id}`);
  out.push(`dsn ${headers.dsn}`);
  for (const [itemHeader, body] of items) {
    out.push(`item ${itemHeader.type}`);
    // An item with a length is left as bytes: JSON ones are read here.
    const json = itemHeader.type === 'event' || itemHeader.type === 'client_report';
    const payload = json && body instanceof Uint8Array ? JSON.parse(new TextDecoder().decode(body)) : body;
    if (itemHeader.type === 'event') {
      out.push(`event_id ${payload.event_id}`);
      out.push(`level ${payload.level}`);
      out.push(`platform ${payload.platform}`);
      const exception = payload.exception.values[0];
      out.push(`type ${exception.type}`);
      out.push(`value ${exception.value}`);
      out.push(`handled ${exception.mechanism.handled}`);
      for (const frame of exception.stacktrace.frames)
        out.push(`frame ${frame.instruction_addr} ${frame.function ?? '-'} ${frame.filename ?? '-'} ${frame.lineno ?? 0} ${frame.package ?? '-'}`);
      for (const name of Object.keys(payload.contexts ?? {})) out.push(`context ${name}`);
      out.push(`os ${payload.contexts?.os?.name} ${payload.contexts?.os?.kernel_version}`);
      for (const image of payload.debug_meta?.images ?? [])
        out.push(`image ${image.type} ${image.debug_id ?? '-'} ${image.code_file}`);
    } else if (itemHeader.type === 'attachment') {
      out.push(`attachment ${itemHeader.filename} ${itemHeader.content_type} ${itemHeader.length}`);
      writeFileSync(`${file}.${itemHeader.filename}`,
                    payload instanceof Uint8Array ? payload : JSON.stringify(payload));
    } else if (itemHeader.type === 'client_report') {
      for (const discarded of payload.discarded_events) out.push(`discarded ${discarded.reason} ${discarded.quantity}`);
    }
  }
  console.log(out.join('\n'));
}
