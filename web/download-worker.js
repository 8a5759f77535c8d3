// The page's service worker, for browsers that cannot write into a file the
// user chooses: it answers the download of download-worker/ID/NAME with a
// stream whose chunks the page hands over one at a time, each when the
// browser has taken the one before (see streamedDownload in app.js).
const downloads = new Map();

self.addEventListener('install', () => self.skipWaiting());
self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

self.addEventListener('message', (event) => {
  const { type, id, name, size } = event.data ?? {};
  if (type !== 'download') return;
  const port = event.ports[0];
  const stream = new ReadableStream(
    {
      start(controller) {
        port.onmessage = ({ data }) => {
          if (data.chunk) controller.enqueue(new Uint8Array(data.chunk));
          else if (data.done) controller.close();
          else if (data.abort) controller.error(new Error('cancelled'));
        };
      },
      pull() {
        port.postMessage('pull');
      },
      cancel() {
        port.postMessage('cancel');
      },
    },
    { highWaterMark: 1 },
  );
  downloads.set(id, { stream, name, size });
});

self.addEventListener('fetch', (event) => {
  const match = new URL(event.request.url).pathname.match(/\/download-worker\/([^/]+)\//);
  const download = match && downloads.get(match[1]);
  if (!download) return;
  downloads.delete(match[1]);
  event.respondWith(
    new Response(download.stream, {
      headers: {
        'Content-Type': 'image/bmp',
        'Content-Disposition': `attachment; filename*=UTF-8''${encodeURIComponent(download.name)}`,
        // (Unknown before the work for run-length encoded images.)
        ...(typeof download.size === 'number' ? { 'Content-Length': String(download.size) } : {}),
      },
    }),
  );
});
