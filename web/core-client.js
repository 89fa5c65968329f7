// The page's side of the worker (worker.js; its messages are listed in
// web/README.md): requests answered by promises, jobs reporting their
// events, and Cancel. A worker without threads hears a cancel only when
// its job is over, so the page ends that worker and starts another; what
// the job handed over before stays whole.

export class CoreClient extends EventTarget {
  constructor(workerUrl = new URL('./worker.js', import.meta.url)) {
    super();
    this.workerUrl = workerUrl;
    this.lastId = 0;
    this.pending = new Map(); // id -> {resolve, reject} of a request
    this.jobs = new Map(); // id -> {onEvent, resolve} of a job
    this.ready = this.start();
  }

  // Resolves with the worker's "ready" message.
  start() {
    this.worker = new Worker(this.workerUrl, { type: 'module' });
    return new Promise((resolve, reject) => {
      this.worker.onerror = (event) => {
        event.preventDefault?.();
        reject(new Error(event.message || 'the worker could not be started'));
      };
      this.worker.onmessage = ({ data }) => {
        if (data.type === 'ready') {
          this.info = data;
          resolve(data);
          this.dispatchEvent(new CustomEvent('ready', { detail: data }));
          return;
        }
        this.onMessage(data);
      };
    });
  }

  onMessage(data) {
    const job = this.jobs.get(data.id);
    if (job !== undefined) {
      if (data.type === 'refused') {
        this.jobs.delete(data.id);
        job.reject(new Error(data.message));
        return;
      }
      job.onEvent(data);
      if (data.type === 'end') {
        this.jobs.delete(data.id);
        job.resolve(data);
      }
      return;
    }
    const request = this.pending.get(data.id);
    if (request === undefined) return;
    this.pending.delete(data.id);
    if (data.type === 'refused') request.reject(new Error(data.message));
    else request.resolve(data);
  }

  // A request answered by one "result": {type: "info", name, bytes}, ...
  async request(message, transfer = []) {
    await this.ready;
    const id = ++this.lastId;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.worker.postMessage({ ...message, id }, transfer);
    });
  }

  // Runs a job ({type: "convert" | "export", files, settings, format});
  // onEvent gets its events; resolves with its "end". The files' buffers
  // are handed over (transferred).
  async runJob(message, onEvent) {
    await this.ready;
    const id = ++this.lastId;
    this.currentJob = id;
    const transfer = message.files.map((file) => file.bytes);
    const end = new Promise((resolve, reject) => {
      // A job refused as a whole is answered "refused".
      this.jobs.set(id, { onEvent, resolve, reject });
      this.worker.postMessage({ ...message, id }, transfer);
    });
    try {
      return await end;
    } finally {
      if (this.currentJob === id) this.currentJob = undefined;
    }
  }

  // Stops the running job: the worker with threads abandons the file being
  // written; one without is ended and another started.
  async cancel() {
    const id = this.currentJob;
    if (id === undefined) return;
    if (this.info?.variant === 'threads') {
      this.worker.postMessage({ id: ++this.lastId, type: 'cancel', job: id });
      return;
    }
    this.worker.terminate();
    const job = this.jobs.get(id);
    this.jobs.delete(id);
    for (const request of this.pending.values()) request.reject(new Error('the worker was restarted'));
    this.pending.clear();
    this.ready = this.start();
    const end = { id, type: 'end', cancelled: true, restarted: true };
    job?.onEvent(end);
    job?.resolve(end);
    await this.ready;
  }
}
