// The OpenAPI document of matrixd's API checked by a real validator, and the live answers of a
// real matrixd checked against it: every answer's status must be documented for its operation
// and its body must match the schema documented for that status.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Validator } from '@seriousme/openapi-schema-validator';
import Ajv2020 from 'ajv/dist/2020.js';
import { Rig } from './rig.mjs';

test('the document is valid OpenAPI and every live answer matches it', async () => {
  const rig = new Rig();
  await rig.start();
  try {
    const document = await (await fetch(rig.origin + '/api/v1/openapi.json')).json();
    const validation = await new Validator().validate(document);
    assert.equal(validation.valid, true, JSON.stringify(validation.errors));

    const ajv = new Ajv2020({ strict: false });
    ajv.addSchema({ $id: 'api', components: document.components });
    const checked = [];
    const call = async (method, template, path, body, headers = {}) => {
      const response = await fetch(rig.origin + path, {
        method, headers: { ...(body ? { 'Content-Type': 'application/json' } : {}), ...headers },
        body: body === undefined ? undefined : body,
      });
      const operation = document.paths[template]?.[method.toLowerCase()];
      assert.ok(operation, `${method} ${template} is not documented`);
      const documented = operation.responses[String(response.status)];
      assert.ok(documented, `${method} ${path}: ${response.status} is not documented`);
      const type = (response.headers.get('content-type') || '').split(';')[0];
      const text = await response.text();
      const content = documented.content;
      if (!content) {
        assert.equal(text, '', `${method} ${path}: ${response.status} documents no body`);
      } else {
        assert.ok(content[type], `${method} ${path}: ${type} is not documented for ${response.status}`);
        const schema = JSON.parse(JSON.stringify(content[type].schema)
          .replaceAll('"#/components/', '"api#/components/'));
        const valid = ajv.validate(schema, JSON.parse(text));
        assert.ok(valid, `${method} ${path} ${response.status}: ${ajv.errorsText()}`);
      }
      checked.push(`${method} ${path} ${response.status}`);
      return response.status;
    };

    assert.equal(await call('GET', '/api/v1/state', '/api/v1/state'), 200);
    assert.equal(await call('PUT', '/api/v1/outputs/{output}', '/api/v1/outputs/B', '{"input":"Laptop"}'), 200);
    assert.equal(await call('PUT', '/api/v1/outputs/{output}', '/api/v1/outputs/Z', '{"input":1}'), 404);
    assert.equal(await call('PUT', '/api/v1/outputs/{output}', '/api/v1/outputs/B', '{"input":[]}'), 400);
    assert.equal(await call('PUT', '/api/v1/outputs/{output}', '/api/v1/outputs/B', '{"input":1}',
      { Origin: 'http://evil.example' }), 403);
    assert.equal(await call('PUT', '/api/v1/edid', '/api/v1/edid', '{"mode":5}'), 200);
    assert.equal(await call('PUT', '/api/v1/edid', '/api/v1/edid', '{"mode":"nope"}'), 404);
    assert.equal(await call('POST', '/api/v1/presets/{name}', '/api/v1/presets/Movie%20night'), 200);
    assert.equal(await call('POST', '/api/v1/presets/{name}', '/api/v1/presets/Party'), 404);
    assert.equal(await call('POST', '/api/v1/refresh', '/api/v1/refresh'), 200);
    assert.equal(await call('GET', '/api/v1/events', '/api/v1/events'), 426);
    assert.equal(await call('GET', '/healthz', '/healthz'), 200);
    assert.equal(await call('GET', '/api/v1/openapi.json', '/api/v1/openapi.json'), 200);
    assert.equal(await call('POST', '/api/v1/session', '/api/v1/session', '{"password":"x"}'), 204);
    assert.equal(await call('POST', '/api/v1/session', '/api/v1/session', '"x"'), 400);
    assert.equal(await call('DELETE', '/api/v1/session', '/api/v1/session'), 204);
    await rig.control('power 1500', 'power off');
    assert.equal(await call('PUT', '/api/v1/outputs/{output}', '/api/v1/outputs/B', '{"input":2}'), 504);
    await rig.sim.waitFor('power on');
    await rig.control('unplug', 'unplugged');
    await rig.daemon.waitFor('switcher not answering');
    assert.equal(await call('POST', '/api/v1/refresh', '/api/v1/refresh'), 503);
    assert.equal(checked.length, 18);
  } finally {
    await rig.stop();
  }

  // With a password: 401, then 429 after a wrong one.
  const locked = new Rig();
  await locked.start({ withPassword: true });
  try {
    const document = await (await fetch(locked.origin + '/api/v1/openapi.json')).json();
    const statusOf = async (headers) => (await fetch(locked.origin + '/api/v1/state', { headers })).status;
    assert.equal(await statusOf({}), 401);
    assert.equal(await statusOf({ Authorization: 'Bearer guess' }), 401);
    assert.equal(await statusOf({ Authorization: 'Bearer guess' }), 429);
    for (const status of ['401', '429'])
      assert.ok(document.paths['/api/v1/state'].get.responses[status]);
  } finally {
    await locked.stop();
  }
});
